# Sources of src/suggestions.
list(APPEND QV_CORE_SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/suggestion_index.cpp
)
list(APPEND QV_APP_SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/suggestion_service.cpp
    ${CMAKE_CURRENT_LIST_DIR}/address_suggestions.cpp
)
