# Sources of src/profiles.
list(APPEND QV_CORE_SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/profile_model.cpp
    ${CMAKE_CURRENT_LIST_DIR}/profiles_window_rules.cpp
    ${CMAKE_CURRENT_LIST_DIR}/storage_editor_rules.cpp
    ${CMAKE_CURRENT_LIST_DIR}/website_data_rules.cpp
)
list(APPEND QV_APP_SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/profile_service.cpp
    ${CMAKE_CURRENT_LIST_DIR}/profiles_window.cpp
    ${CMAKE_CURRENT_LIST_DIR}/storage_editor.cpp
    ${CMAKE_CURRENT_LIST_DIR}/website_data_section.cpp
    ${CMAKE_CURRENT_LIST_DIR}/clear_browsing_data_window.cpp
)
