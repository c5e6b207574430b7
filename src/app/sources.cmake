# Sources of src/app.
list(APPEND QV_CORE_SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/text_util.cpp
    ${CMAKE_CURRENT_LIST_DIR}/json_text.cpp
    ${CMAKE_CURRENT_LIST_DIR}/uuid.cpp
    ${CMAKE_CURRENT_LIST_DIR}/atomic_file.cpp
)
list(APPEND QV_APP_SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/launch.cpp
)
