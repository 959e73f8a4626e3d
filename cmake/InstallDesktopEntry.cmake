# Run by "cmake --install": writes zorod.desktop for the folder being installed into, whose
# path is known only now (--prefix). The entry starts the installed zorod and shows its icon.
set(folder "${CMAKE_INSTALL_PREFIX}")
# Exec takes the program as one quoted argument: inside the quotes ", `, $ and \ are escaped
# with a backslash, and every backslash of the value is then doubled as in any other key.
set(exec "${folder}/zorod")
string(REPLACE "\\" "\\\\" exec "${exec}")
string(REPLACE "\"" "\\\"" exec "${exec}")
string(REPLACE "`" "\\`" exec "${exec}")
string(REPLACE "$" "\\$" exec "${exec}")
string(REPLACE "\\" "\\\\" exec "${exec}")
set(ZOROD_EXEC "\"${exec}\"")
set(icon "${folder}/zorod.svg")
string(REPLACE "\\" "\\\\" ZOROD_ICON "${icon}")
set(target "$ENV{DESTDIR}${folder}/zorod.desktop")
message(STATUS "Installing: ${target}")
configure_file("${ZOROD_DESKTOP_TEMPLATE}" "${target}" @ONLY)
