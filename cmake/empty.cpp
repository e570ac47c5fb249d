// The shared object is made of the subsystem archives; CMake wants one source.
