// Start and end of the virtual file layer.
#include "vfile/vfile.h"

#include "library/libtable.h"
#include "library/searchlist.h"
#include "vfile/internal.h"

namespace tx {

void FileLayerInit() {
    g_layer.report_errors = 1;
}

void VirtualInit() {
    SelectLibrary(-1);
    g_layer.pending_stamp = 0;
    g_layer.stamp_now = 1;
    g_layer.library_search = 1;
    g_layer.libraries_first = 1;
    g_layer.growth_step = kDirectoryGrowthStep;
    LibraryTableReset();
    SearchListReset();
    InstallLibraryHooks(true);
}

void VirtualTerm() {
    LibraryTableRelease();
    InstallLibraryHooks(false);
}

} // namespace tx
