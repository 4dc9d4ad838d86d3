#pragma once
// libcurl, loaded when the engine is about to serve rather than when the
// program starts: a second start, which finds the port served and exits at
// once, no longer pays for loading libcurl and the 35 libraries it needs
// (15 ms and more on a small machine, every time the service starts).
//
// Contract: Load once, from the engine's thread, before any other use; on
// success every member is set and stays valid until the program ends
// (libcurl is never unloaded). Curl() is only called after a successful Load.
// Calls through these pointers miss curl.h's compile-time checks of option
// values: numbers go as long, sizes as curl_off_t, as libcurl reads them.

#include <curl/curl.h>

#include <string>

struct CurlApi {
    CURLcode (*global_init)(long flags);
    void (*global_cleanup)();
    CURL* (*easy_init)();
    CURLcode (*easy_setopt)(CURL* easy, CURLoption option, ...);
    CURLcode (*easy_getinfo)(CURL* easy, CURLINFO info, ...);
    void (*easy_cleanup)(CURL* easy);
    CURLM* (*multi_init)();
    CURLMcode (*multi_setopt)(CURLM* multi, CURLMoption option, ...);
    CURLMcode (*multi_add_handle)(CURLM* multi, CURL* easy);
    CURLMcode (*multi_remove_handle)(CURLM* multi, CURL* easy);
    CURLMcode (*multi_socket_action)(CURLM* multi, curl_socket_t socket, int mask, int* running);
    CURLMsg* (*multi_info_read)(CURLM* multi, int* queued);
    CURLMcode (*multi_cleanup)(CURLM* multi);
    curl_slist* (*slist_append)(curl_slist* list, const char* text);
    void (*slist_free_all)(curl_slist* list);

    // False, with what failed in *error, when libcurl or one of its
    // functions cannot be found.
    static bool Load(std::string* error);
};

const CurlApi& Curl();
