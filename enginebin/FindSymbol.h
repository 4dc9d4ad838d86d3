#pragma once
// One function of a library loaded at run time (dlopen), looked up by name
// into a typed pointer. False with "<what> has no <name>" in *error when the
// library lacks it; the caller's table then stays unused.

#include <dlfcn.h>

#include <string>

template <typename Function>
bool FindSymbol(void* library, const char* what, const char* name, Function* function, std::string* error)
{
    void* symbol = dlsym(library, name);
    if (!symbol) {
        *error = std::string(what) + " has no " + name;
        return false;
    }
    *function = reinterpret_cast<Function>(symbol);
    return true;
}
