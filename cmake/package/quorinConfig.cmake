# quorin's CMake package: the packer as the imported program quorin::quorin-pack
# and quorin_add_launcher(), which packs built targets into a launcher exe.
#   find_package(quorin REQUIRED)
#   quorin_add_launcher(MyApp-onefile CHILD MyApp FILES mylib DIRECTORY data)
include("${CMAKE_CURRENT_LIST_DIR}/quorinTargets.cmake")
include("${CMAKE_CURRENT_LIST_DIR}/quorin_add_launcher.cmake")
