#pragma once

#include <string>
#include <utility>
#include <vector>

namespace platform {

/// An HTTP client for fire-and-forget form posts: nothing waits for the reply, and neither the
/// reply nor any error reaches the caller.
class HTTPSocket
{
public:
    using Form = std::vector<std::pair<std::string, std::string>>;

    void SetFormData(Form form) { m_form = std::move(form); }
    /// Starts a POST of the form as application/x-www-form-urlencoded and returns at once.
    void Post(const std::string &url);

    /// The form as the request body: name=value pairs joined by "&", every byte outside the
    /// unreserved set percent-encoded.
    static std::string EncodeForm(const Form &form);

private:
    Form m_form;
};

} // namespace platform
