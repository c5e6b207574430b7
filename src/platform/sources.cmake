# Sources of src/platform: our own layers over GLib, libsoup, libarchive and GTK.
list(APPEND QV_PLATFORM_SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/log.cpp
    ${CMAKE_CURRENT_LIST_DIR}/storage_locations.cpp
    ${CMAKE_CURRENT_LIST_DIR}/alerts.cpp
    ${CMAKE_CURRENT_LIST_DIR}/http_client.cpp
    ${CMAKE_CURRENT_LIST_DIR}/address_probe.cpp
    ${CMAKE_CURRENT_LIST_DIR}/network_proxy.cpp
    ${CMAKE_CURRENT_LIST_DIR}/archive.cpp
    ${CMAKE_CURRENT_LIST_DIR}/file_panels.cpp
    ${CMAKE_CURRENT_LIST_DIR}/renderer_choice.cpp
    ${CMAKE_CURRENT_LIST_DIR}/process_memory.cpp
    ${CMAKE_CURRENT_LIST_DIR}/desktop_notifications.cpp
)
