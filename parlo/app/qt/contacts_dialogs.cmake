# The phonebook, recipient and group dialogs of the SMS client (Qt); the
# Parlo program links them through its dialogs.
set(CMAKE_AUTOMOC ON)
add_library(parlo_contacts_dialogs STATIC
  ${CMAKE_CURRENT_LIST_DIR}/contact_lists.cpp
  ${CMAKE_CURRENT_LIST_DIR}/contacts_select_dialog.cpp
  ${CMAKE_CURRENT_LIST_DIR}/group_define_dialog.cpp
  ${CMAKE_CURRENT_LIST_DIR}/groups_dialog.cpp
  ${CMAKE_CURRENT_LIST_DIR}/phonebook_dialog.cpp
  ${CMAKE_CURRENT_LIST_DIR}/phonebook_entry_dialog.cpp
  ${CMAKE_CURRENT_LIST_DIR}/recipients_dialog.cpp)
target_include_directories(parlo_contacts_dialogs PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(parlo_contacts_dialogs PUBLIC parlo_app skyvane_qtsupport Qt6::Widgets)

skyvane_test(parlo_contacts_dialogs_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/tests/contacts_dialogs_test.cpp
  LIBS parlo_contacts_dialogs phonesim_testing Qt6::Test)
add_dependencies(parlo_contacts_dialogs_test phonesim parlo_device_db)
