# The consumer programs, built the same way whether nubrix was found installed or added as a
# subdirectory.
add_executable(consumer ../consumer.cpp)
target_link_libraries(consumer PRIVATE nubrix::nubrix)
if(TARGET nubrix::dimacs)
  add_executable(dimacs_consumer ../dimacs_consumer.cpp)
  target_link_libraries(dimacs_consumer PRIVATE nubrix::dimacs)
endif()
add_executable(c_consumer ../c_consumer.c)
target_link_libraries(c_consumer PRIVATE nubrix::nubrix)
add_executable(ipasir_consumer ../ipasir_consumer.c)
target_link_libraries(ipasir_consumer PRIVATE nubrix::ipasir)
add_executable(ipasir_static_consumer ../ipasir_consumer.c)
target_link_libraries(ipasir_static_consumer PRIVATE nubrix::ipasir_static)
