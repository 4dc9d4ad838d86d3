#include "app/CZDRDownloaderApp.h"

wxIMPLEMENT_APP(CZDRDownloaderApp);
