# Sources of src/navigation.
list(APPEND QV_CORE_SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/address_resolution.cpp
    ${CMAKE_CURRENT_LIST_DIR}/error_page_rules.cpp
    ${CMAKE_CURRENT_LIST_DIR}/crash_page_rules.cpp
    ${CMAKE_CURRENT_LIST_DIR}/site_security_rules.cpp
)
list(APPEND QV_APP_SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/navigation_delegate.cpp
    ${CMAKE_CURRENT_LIST_DIR}/address_commands.cpp
    ${CMAKE_CURRENT_LIST_DIR}/error_page.cpp
    ${CMAKE_CURRENT_LIST_DIR}/crash_page.cpp
    ${CMAKE_CURRENT_LIST_DIR}/unresponsive_page_bar.cpp
    ${CMAKE_CURRENT_LIST_DIR}/site_security.cpp
    ${CMAKE_CURRENT_LIST_DIR}/site_warning_bar.cpp
    ${CMAKE_CURRENT_LIST_DIR}/https_only_section.cpp
)
