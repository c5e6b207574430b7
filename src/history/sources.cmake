# Sources of src/history.
list(APPEND QV_CORE_SOURCES
)
list(APPEND QV_APP_SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/history_recording.cpp
)
list(APPEND QV_CORE_SOURCES ${CMAKE_CURRENT_LIST_DIR}/history_store.cpp)
