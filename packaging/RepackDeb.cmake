# Run by cpack on the .deb it made. CPack adds a postinst and a postrm that
# call ldconfig whenever a library lies under /usr/lib, here the link
# component, a plugin in a private folder that the dynamic linker never
# looks up (and dpkg's triggers run ldconfig anyway). The package is packed
# again by dpkg-deb without those calls, which also dates every member by
# SOURCE_DATE_EPOCH when it is set, so two builds of one commit give the same
# bytes.
find_program(KX_DPKG_DEB dpkg-deb REQUIRED)
foreach(kx_deb IN LISTS CPACK_PACKAGE_FILES)
  if(NOT kx_deb MATCHES "\\.deb$")
    continue()
  endif()
  set(kx_tree "${kx_deb}.tree")
  file(REMOVE_RECURSE "${kx_tree}")
  execute_process(COMMAND ${KX_DPKG_DEB} -R "${kx_deb}" "${kx_tree}" RESULT_VARIABLE kx_rc)
  if(kx_rc)
    message(FATAL_ERROR "dpkg-deb -R ${kx_deb} failed")
  endif()
  if(EXISTS "${kx_tree}/DEBIAN/postinst")
    file(READ "${kx_tree}/DEBIAN/postinst" kx_script)
    if(kx_script MATCHES "ldconfig")
      file(REMOVE "${kx_tree}/DEBIAN/postinst")
    endif()
  endif()
  # Our own postrm (the purge) stays; only a generated ldconfig call goes.
  file(READ "${kx_tree}/DEBIAN/postrm" kx_script)
  if(kx_script MATCHES "ldconfig")
    message(FATAL_ERROR "the postrm of ${kx_deb} calls ldconfig: CPack replaced the package's own postrm")
  endif()
  execute_process(COMMAND ${KX_DPKG_DEB} --root-owner-group -Zxz -b "${kx_tree}" "${kx_deb}"
                  OUTPUT_QUIET RESULT_VARIABLE kx_rc)
  file(REMOVE_RECURSE "${kx_tree}")
  if(kx_rc)
    message(FATAL_ERROR "dpkg-deb -b ${kx_deb} failed")
  endif()
endforeach()
