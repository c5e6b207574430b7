# Sources of src/base: utilities every layer uses; all of them pure.
list(APPEND QV_CORE_SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/text_util.cpp
    ${CMAKE_CURRENT_LIST_DIR}/json_text.cpp
    ${CMAKE_CURRENT_LIST_DIR}/uuid.cpp
    ${CMAKE_CURRENT_LIST_DIR}/url.cpp
    ${CMAKE_CURRENT_LIST_DIR}/markup_tags.cpp
    ${CMAKE_CURRENT_LIST_DIR}/paths.cpp
    ${CMAKE_CURRENT_LIST_DIR}/atomic_file.cpp
    ${CMAKE_CURRENT_LIST_DIR}/new_folder.cpp
    ${CMAKE_CURRENT_LIST_DIR}/file_writer.cpp
    ${CMAKE_CURRENT_LIST_DIR}/bad_file.cpp
    ${CMAKE_CURRENT_LIST_DIR}/user_defaults.cpp
    ${CMAKE_CURRENT_LIST_DIR}/storage_rules.cpp
    ${CMAKE_CURRENT_LIST_DIR}/utc_time.cpp
)
