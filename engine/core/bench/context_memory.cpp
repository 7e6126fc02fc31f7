// engine_core_memory - measures what the engine context costs in memory: its size, the
// resident memory once built, the resident cost of bringing anchors into use, and the
// bytes per Tag kept in a selector's tag tree. Prints one line per figure.
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "zub_public.h"

namespace {

long resident_bytes()
{
    long pages_total = 0;
    long pages_resident = 0;
    FILE* f = std::fopen("/proc/self/statm", "r");
    if (f == nullptr) {
        return -1;
    }
    if (std::fscanf(f, "%ld %ld", &pages_total, &pages_resident) != 2) {
        pages_resident = -1;
    }
    std::fclose(f);
    return pages_resident * sysconf(_SC_PAGESIZE);
}

double mib(long bytes)
{
    return static_cast<double>(bytes) / (1024.0 * 1024.0);
}

}  // namespace

int main()
{
    std::printf("sizeof(context_t)            %zu bytes (%.1f MiB)\n", sizeof(context_t), mib(sizeof(context_t)));
    std::printf("sizeof(Anchor)               %zu bytes\n", sizeof(Anchor));
    std::printf("sizeof(ClockSync)            %zu bytes\n", sizeof(ClockSync));
    std::printf("sizeof(Tag)                  %zu bytes\n", sizeof(Tag));

    const long before = resident_bytes();
    context_t* c = zub_context();
    const long built = resident_bytes();
    std::printf("resident, context built      %.1f MiB (%ld bytes per anchor)\n", mib(built - before),
                (built - before) / ZUB_MAX_ANCHOR_NUM);

    constexpr unsigned kAnchors = 200;
    for (unsigned i = 0; i < kAnchors; ++i) {
        c->anchors[i].init(0x0822614400000000ull + i, static_cast<WORD16>(i));
    }
    const long inited = resident_bytes();
    std::printf("resident per anchor init     %ld bytes (the 10,000-entry tag table is zeroed by handing its pages back)\n",
                (inited - built) / static_cast<long>(kAnchors));

    static RBTree<unsigned long, Tag> tags;
    constexpr unsigned kTags = 20000;
    const long tags_before = resident_bytes();
    for (unsigned long t = 0; t < kTags; ++t) {
        if (tags.insert_key(0x0800000000000000ul + t) == nullptr) {
            std::fprintf(stderr, "tag insert failed\n");
            return 1;
        }
    }
    const long tags_after = resident_bytes();
    std::printf("resident per Tag in a tree   %ld bytes (%u tags)\n",
                (tags_after - tags_before) / static_cast<long>(kTags), kTags);
    std::printf("resident, whole process      %.1f MiB\n", mib(tags_after));
    return 0;
}
