# Installs liboxmiddle, its public headers under include/oxmiddle/, a CMake package
# (find_package(OxMiddle) -> OxMiddle::oxmiddle) and oxmiddle.pc for pkg-config.
include(CMakePackageConfigHelpers)

# Public headers, relative to the source tree; each keeps its folder under include/oxmiddle/.
# Later work appends its headers here.
set(OXM_PUBLIC_HEADERS
  platform/wintypes.h
  platform/device.h
  platform/console.h
  platform/helper_process.h
  platform/question.h
  platform/usernotify.h
  transport/mail_account.h
  transport/pop_state.h
  transport/pop_client.h
  transport/smtp_state.h
  transport/smtp_client.h
  transport/sender.h
  frame/oxerror.h
  frame/oxerror_table.inc
  frame/profile.h
  frame/registry_value.h
  store/folder_interface.h
  store/message_interface.h
  store/storage_interface.h
  store/message_exporter.h
  store/message_importer.h
  accounts/field_types.h
  accounts/account_keys.inc
  accounts/common_keys.inc
  accounts/account_info.h
  accounts/account_creator.h
  accounts/classifier.h
  accounts/classification.h
  accounts/signature.h
  accounts/common_setting.h
  accounts/system_info.h
  accounts/plugin_info.h
  codec/email.h
  codec/emlcompose.h
  codec/convert.h
  codec/quote_email.h
  codec/html_creater.h
  transport/protocol_log.h
  transport/ras_controller.h
  transport/retriever.h
  transport/periodic.h
  transport/account_record.h
  transport/listener.h
  transport/retrieval_common.h
  feeds/rss_client.h
  feeds/rss_retriever.h
  feeds/rss_http.h)

set(OXM_INSTALL_HEADERDIR ${CMAKE_INSTALL_INCLUDEDIR}/oxmiddle)
set(OXM_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/OxMiddle)

install(TARGETS oxmiddle EXPORT OxMiddleTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

foreach(header ${OXM_PUBLIC_HEADERS})
  get_filename_component(dir ${header} DIRECTORY)
  install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/${header} DESTINATION ${OXM_INSTALL_HEADERDIR}/${dir})
endforeach()
install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/include/oxmiddle/oxmiddle.h
  DESTINATION ${OXM_INSTALL_HEADERDIR})

install(EXPORT OxMiddleTargets
  NAMESPACE OxMiddle::
  FILE OxMiddleTargets.cmake
  DESTINATION ${OXM_INSTALL_CMAKEDIR})

configure_package_config_file(
  ${CMAKE_CURRENT_SOURCE_DIR}/cmake/OxMiddleConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/OxMiddleConfig.cmake
  INSTALL_DESTINATION ${OXM_INSTALL_CMAKEDIR})
write_basic_package_version_file(
  ${CMAKE_CURRENT_BINARY_DIR}/OxMiddleConfigVersion.cmake
  VERSION ${PROJECT_VERSION}
  COMPATIBILITY SameMajorVersion)
install(FILES
  ${CMAKE_CURRENT_BINARY_DIR}/OxMiddleConfig.cmake
  ${CMAKE_CURRENT_BINARY_DIR}/OxMiddleConfigVersion.cmake
  DESTINATION ${OXM_INSTALL_CMAKEDIR})

# oxmiddle.pc names its prefix relative to its own folder, so it stays right for whatever
# prefix `cmake --install --prefix` puts the tree under, and when the tree is moved.
set(OXM_PC_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
if(IS_ABSOLUTE "${OXM_PC_DIR}")
  set(OXM_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
else()
  file(RELATIVE_PATH OXM_PC_UP "/oxm-prefix/${OXM_PC_DIR}" "/oxm-prefix")
  string(REGEX REPLACE "/$" "" OXM_PC_UP "${OXM_PC_UP}")
  set(OXM_PC_PREFIX "\${pcfiledir}/${OXM_PC_UP}")
endif()
foreach(kind LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${kind}}")
    set(OXM_PC_${kind} "${CMAKE_INSTALL_${kind}}")
  else()
    set(OXM_PC_${kind} "\${prefix}/${CMAKE_INSTALL_${kind}}")
  endif()
endforeach()
configure_file(${CMAKE_CURRENT_SOURCE_DIR}/cmake/oxmiddle.pc.in
  ${CMAKE_CURRENT_BINARY_DIR}/oxmiddle.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/oxmiddle.pc DESTINATION ${OXM_PC_DIR})

# The installed oxmail finds the library of its own tree wherever that is installed.
if(TARGET oxmail)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
    set_target_properties(oxmail PROPERTIES INSTALL_RPATH "${CMAKE_INSTALL_LIBDIR}")
  else()
    set_target_properties(oxmail PROPERTIES INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")
  endif()
endif()
