# Sources of src/contentblocking.
list(APPEND QV_CORE_SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/filter_list_converter.cpp
    ${CMAKE_CURRENT_LIST_DIR}/element_hiding.cpp
)
list(APPEND QV_APP_SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/content_blocking_service.cpp
    ${CMAKE_CURRENT_LIST_DIR}/content_blocking_button.cpp
    ${CMAKE_CURRENT_LIST_DIR}/content_blocking_section.cpp
    ${CMAKE_CURRENT_LIST_DIR}/element_hiding_script.cpp
)
