// A header in another folder: host includes and a call in an inline function.
#pragma once
#include <fcntl.h>  // HIT
#include <dirent.h>  // HIT

inline int openRaw(const char* p) { return ::openat(0, p, 0); }  // HIT
inline void* sym(void* h) { return dlsym(h, "f"); }  // HIT
