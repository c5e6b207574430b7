# Sources of src/bookmarks.
list(APPEND QV_CORE_SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/bookmark_store.cpp
    ${CMAKE_CURRENT_LIST_DIR}/netscape_bookmarks.cpp
)
list(APPEND QV_APP_SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/bookmark_service.cpp
    ${CMAKE_CURRENT_LIST_DIR}/bookmarks_window.cpp
)
