#include "core/filetypes.h"

#include "platform/folderitem.h"

namespace FileTypes {

platform::Ref<platform::FileType> pText;
platform::Ref<platform::FileType> pSpecialAny;

namespace {

platform::Ref<platform::FileType> Make(const char *name, const char *macType, const char *creator)
{
    auto type = platform::New<platform::FileType>();
    type->Name = name;
    type->MacType = macType;
    type->MacCreator = creator;
    return type;
}

} // namespace

void Initialize_()
{
    pText = Make("text", "TEXT", "R*ch");
    pSpecialAny = Make("special/any", "????", "????");
}

} // namespace FileTypes

namespace {

platform::Ref<platform::Picture> Load(platform::Ref<platform::Picture> &cache, const char *file)
{
    if (cache)
        return cache;
    auto resources = platform::ApplicationFolder();
    if (resources)
        resources = resources->Child("Resources");
    if (resources)
        cache = resources->Child(file)->OpenAsPicture();
    if (cache)
        cache->Transparent = 1;
    return cache;
}

platform::Ref<platform::Picture> g_folderPicture;
platform::Ref<platform::Picture> g_documentPicture;

} // namespace

platform::Ref<platform::Picture> Folder() { return Load(g_folderPicture, "Folder.bmp"); }

platform::Ref<platform::Picture> Document() { return Load(g_documentPicture, "Document.bmp"); }
