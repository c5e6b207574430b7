# Sources of src/platform: our own layers over GLib, libsoup, libarchive and GTK.
list(APPEND QV_PLATFORM_SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/log.cpp
)
