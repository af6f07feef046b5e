#include "platform/httpsocket.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>

namespace platform {

namespace {

QNetworkAccessManager &Manager()
{
    // Lives as long as the Qt application; replies still in flight then are dropped with it.
    static QNetworkAccessManager *manager = [] {
        auto *m = new QNetworkAccessManager(QCoreApplication::instance());
        m->setTransferTimeout(30000);
        return m;
    }();
    return *manager;
}

} // namespace

std::string HTTPSocket::EncodeForm(const Form &form)
{
    QByteArray body;
    for (const auto &[name, value] : form) {
        if (!body.isEmpty())
            body += '&';
        body += QByteArray::fromStdString(name).toPercentEncoding();
        body += '=';
        body += QByteArray::fromStdString(value).toPercentEncoding();
    }
    return body.toStdString();
}

void HTTPSocket::Post(const std::string &url)
{
    if (!QCoreApplication::instance())
        return;
    QNetworkRequest request(QUrl(QString::fromStdString(url)));
    request.setHeader(
        QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/x-www-form-urlencoded"));
    QNetworkReply *reply = Manager().post(request, QByteArray::fromStdString(EncodeForm(m_form)));
    QObject::connect(reply, &QNetworkReply::finished, reply, &QObject::deleteLater);
}

} // namespace platform
