# Translations of the user interface, with Qt Linguist's tools.
#
#   cmake --build --preset dev --target update_translations
#
# refreshes every translations/*.ts from the sources (new texts appear there
# as unfinished entries to translate; texts no longer used are dropped). The
# build turns each .ts into a .qm that is compiled into the program, and the
# test translations_complete fails while a .ts lacks a text of the sources or
# holds an unfinished entry.

file(GLOB BLANKORA_TS_FILES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/translations/*.ts)
# The folders whose texts the user sees, the burning library's messages included.
set(BLANKORA_TR_FOLDERS app framework library pages platform util)
set(BLANKORA_LUPDATE_OPTIONS -locations none -no-obsolete -no-ui-lines -extensions cpp,h,ui -I .)

add_custom_target(update_translations
    COMMAND Qt6::lupdate ${BLANKORA_LUPDATE_OPTIONS} ${BLANKORA_TR_FOLDERS} -ts ${BLANKORA_TS_FILES}
    WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
    COMMENT "Refreshing translations/*.ts from the sources"
    VERBATIM)

qt_add_lrelease(blankora_app TS_FILES ${BLANKORA_TS_FILES} QM_FILES_OUTPUT_VARIABLE BLANKORA_QM_FILES)
qt_add_resources(blankora_app blankora_translations
    PREFIX /translations
    BASE ${CMAKE_CURRENT_BINARY_DIR}
    FILES ${BLANKORA_QM_FILES})

if(BLANKORA_TESTS)
    find_package(Python3 REQUIRED COMPONENTS Interpreter)
    string(JOIN " " options ${BLANKORA_LUPDATE_OPTIONS})
    string(JOIN " " folders ${BLANKORA_TR_FOLDERS})
    add_test(NAME translations_complete
        COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tools/check-translations.py
            $<TARGET_FILE:Qt6::lupdate> "${options}" "${folders}" ${BLANKORA_TS_FILES}
        WORKING_DIRECTORY ${CMAKE_SOURCE_DIR})
endif()
