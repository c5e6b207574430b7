// The services one browser is made of. Each is handed this list when it is made, so that the
// services reach one another without the owner in between; all are made before any is used.
#pragma once

namespace qv {

class DevToolsService;
class DownloadService;
class BookmarkService;
class ContentBlockingService;
class ExtensionService;
class HistoryService;
class NavigationService;
class PermissionService;
class ProfileService;
class SessionService;
class Shell;
class SuggestionService;
class TabService;

struct Services {
    Shell* shell = nullptr;
    TabService* tabs = nullptr;
    NavigationService* navigation = nullptr;
    HistoryService* history = nullptr;
    BookmarkService* bookmarks = nullptr;
    DownloadService* downloads = nullptr;
    ExtensionService* extensions = nullptr;
    ProfileService* profiles = nullptr;
    SessionService* session = nullptr;
    SuggestionService* suggestions = nullptr;
    ContentBlockingService* contentBlocking = nullptr;
    PermissionService* permissions = nullptr;
    DevToolsService* devtools = nullptr;
};

} // namespace qv
