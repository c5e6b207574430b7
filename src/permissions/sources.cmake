# Sources of src/permissions.
list(APPEND QV_CORE_SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/permission_store.cpp
)
list(APPEND QV_APP_SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/permission_service.cpp
    ${CMAKE_CURRENT_LIST_DIR}/permission_bar.cpp
    ${CMAKE_CURRENT_LIST_DIR}/site_permissions_section.cpp
)
