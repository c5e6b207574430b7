# Sources of src/devtools: QV_CORE_SOURCES (pure), QV_PLATFORM_SOURCES, QV_APP_SOURCES (GTK/WebKit).
list(APPEND QV_CORE_SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/script_console_rules.cpp
    ${CMAKE_CURRENT_LIST_DIR}/script_highlighting.cpp
)
