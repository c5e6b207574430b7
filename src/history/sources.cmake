# Sources of src/history.
list(APPEND QV_CORE_SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/history_store.cpp
    ${CMAKE_CURRENT_LIST_DIR}/history_window_rules.cpp
)
list(APPEND QV_APP_SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/history_service.cpp
    ${CMAKE_CURRENT_LIST_DIR}/history_window.cpp
)
