# SPDX-License-Identifier: MIT
# `cpack -G DEB` in a build folder makes quillbox_<version>_<arch>.deb of what `cmake --install` installs;
# dpkg-shlibdeps finds the run-time dependencies. scripts/test-deb.sh builds, checks and installs it.
set(CPACK_PACKAGE_NAME quillbox)
set(CPACK_PACKAGE_VENDOR "Brindlewick")
set(CPACK_PACKAGE_CONTACT "Quillbox developers <quillbox@brindlewick.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "copy e-mail from mail stores into files")
set(CPACK_PACKAGE_DESCRIPTION
  "Quillbox searches a mail folder of a Maildir tree, an mbox file or an Outlook\n\
data file (.pst, .ost) for the e-mails of a date window and saves each one as\n\
an Outlook .msg file, a text file, an RTF file or a directory, with a window\n\
or unattended from the command line.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION mail)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://brindlewick.example/quillbox)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The window needs a Qt platform plugin, which is loaded at run time and so unseen by dpkg-shlibdeps.
set(CPACK_DEBIAN_PACKAGE_DEPENDS qt6-qpa-plugins)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
