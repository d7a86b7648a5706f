// Known folders by SHGetKnownFolderPath, created when they do not exist yet.
#include "platform/platform.hpp"
#include "platform/windows/win32.hpp"

#include <knownfolders.h>
#include <shlobj.h>

namespace vellumo::platform {

std::filesystem::path System::known_folder_path(KnownFolder folder) {
    const KNOWNFOLDERID* id = nullptr;
    switch (folder) {
    case KnownFolder::LocalAppData: id = &FOLDERID_LocalAppData; break;
    case KnownFolder::RoamingAppData: id = &FOLDERID_RoamingAppData; break;
    case KnownFolder::Programs: id = &FOLDERID_Programs; break;
    }
    if (!id) return {};
    PWSTR text = nullptr;
    const HRESULT result = SHGetKnownFolderPath(*id, KF_FLAG_CREATE, nullptr, &text);
    std::filesystem::path path;
    if (SUCCEEDED(result) && text) path = std::filesystem::path(std::wstring(text));
    CoTaskMemFree(text);  // also what came back beside a failure; null is fine
    return path;
}

}  // namespace vellumo::platform
