#include "app/banner.h"

#include <cstdio>

#include "common/version.h"

namespace okrelt {

namespace {

constexpr const char* SETI_WEB_SITE = "https://setiathome.berkeley.edu/";
constexpr const char* OKRELT_WEB_SITE = "https://okrelt.quorvane.net/";

}  // namespace

void print_web_sites() {
    std::printf("SETI@home website: %s\n", SETI_WEB_SITE);
    std::printf("OKRELT website:    %s\n", OKRELT_WEB_SITE);
}

void print_banner() {
    std::printf("OKRELT Version " OKRELT_VERSION "W\nby Quorvane\n");
    std::printf("\nUse it at your own risk. \n\n");
    std::printf("The SETI@home client can very well analyze the workunit data,\n");
    std::printf("so don't email SETI@home with anything you think you've found.\n");
    std::printf("If what you think you've found really is something, then the\n");
    std::printf("SETI@home client will find it and report it back.\n");
    std::printf("\n");
    print_web_sites();
    std::printf("--------------------------------------------------------------\n");
}

}  // namespace okrelt
