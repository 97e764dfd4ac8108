// The process-wide objects of libzemlink.so are built when the library is
// loaded and destroyed when it is unloaded; each subsystem that owns such an
// object registers it here, in the order the others depend on it.
