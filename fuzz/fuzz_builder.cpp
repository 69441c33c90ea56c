// Fuzzes the builder's reading of files: finding the anchor, the comment, the carried patch and its
// summary, on arbitrary bytes. Whatever it finds must lie inside the file.
#include <cstdint>
#include <cstdlib>

#include "tools/ips_scan.h"
#include "tools/self_patching_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const bytes file(data, data + size);
    ips_summary summary;
    scan_ips_patch(file.data(), file.size(), &summary);
    if (!summary.complete && summary.problem_position > size) abort();

    stub_layout layout;
    if (find_stub_layout(file, &layout) != nullptr) return 0;
    if (layout.anchor_position + sizeof(stub_image_anchor) > size) abort();
    if (decode_comment(file, layout).size() > COMMENT_SLOT_SIZE) abort();
    bytes patch;
    if (carried_patch(file, layout, &patch) == nullptr) {
        if (layout.data_offset + patch.size() > size) abort();
        scan_ips_patch(patch.data(), patch.size(), &summary);
    }
    // A file built from it either reads back the same or is refused as the builder would.
    std::string encoded;
    encode_comment("fuzz 100%", &encoded);
    const bytes rebuilt = build_self_patching_file(file, layout, encoded, patch);
    if (check_built_file(rebuilt, layout, patch) != nullptr) return 0;
    if (decode_comment(rebuilt, layout) != "fuzz 100%") abort();
    return 0;
}
