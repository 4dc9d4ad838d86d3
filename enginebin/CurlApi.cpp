#include "enginebin/CurlApi.h"

#include "enginebin/FindSymbol.h"

#include <dlfcn.h>

namespace {

CurlApi g_curl{};

} // namespace

bool CurlApi::Load(std::string* error)
{
    // The ABI this program was built against (the soname of libcurl 7 and 8).
    void* library = dlopen("libcurl.so.4", RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        const char* why = dlerror();
        *error = std::string("cannot load libcurl.so.4: ") + (why ? why : "unknown");
        return false;
    }
    CurlApi api{};
    const bool found = FindSymbol(library, "libcurl", "curl_global_init", &api.global_init, error) &&
                       FindSymbol(library, "libcurl", "curl_global_cleanup", &api.global_cleanup, error) &&
                       FindSymbol(library, "libcurl", "curl_easy_init", &api.easy_init, error) &&
                       FindSymbol(library, "libcurl", "curl_easy_setopt", &api.easy_setopt, error) &&
                       FindSymbol(library, "libcurl", "curl_easy_getinfo", &api.easy_getinfo, error) &&
                       FindSymbol(library, "libcurl", "curl_easy_cleanup", &api.easy_cleanup, error) &&
                       FindSymbol(library, "libcurl", "curl_multi_init", &api.multi_init, error) &&
                       FindSymbol(library, "libcurl", "curl_multi_setopt", &api.multi_setopt, error) &&
                       FindSymbol(library, "libcurl", "curl_multi_add_handle", &api.multi_add_handle, error) &&
                       FindSymbol(library, "libcurl", "curl_multi_remove_handle", &api.multi_remove_handle, error) &&
                       FindSymbol(library, "libcurl", "curl_multi_socket_action", &api.multi_socket_action, error) &&
                       FindSymbol(library, "libcurl", "curl_multi_info_read", &api.multi_info_read, error) &&
                       FindSymbol(library, "libcurl", "curl_multi_cleanup", &api.multi_cleanup, error) &&
                       FindSymbol(library, "libcurl", "curl_slist_append", &api.slist_append, error) &&
                       FindSymbol(library, "libcurl", "curl_slist_free_all", &api.slist_free_all, error);
    if (!found) {
        dlclose(library);
        return false;
    }
    g_curl = api;
    return true;
}

const CurlApi& Curl()
{
    return g_curl;
}
