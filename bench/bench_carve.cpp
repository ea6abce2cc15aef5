// Carving throughput against a memchr pass over the same bytes.
//
// Builds 1 GiB in memory from a fixed seed (noise, long zero runs, text, and
// planted files of several types), carves it with the full catalogue in 1 MiB
// in-buffer windows as the chunk scan does, checks that every planted file was
// found, and compares the carve rate with a memchr loop counting 0xFF bytes.
// One thread. Usage: bench_carve [rounds] [MiB] [reread] [nomemo] [portable|ssse3]
// With "reread", each 1 MiB step is carved as the direct device scan does it:
// a buffer of the step plus the header overlap, windows of up to 10 MiB read
// ahead from the source, and footer positions remembered from step to step;
// "nomemo" makes each step search its windows' footers afresh. "portable" or "ssse3" forces that prefilter
// path instead of the processor's best.
#include <QCoreApplication>

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <vector>

#include "benchrandom.h"
#include "carving/carveengine.h"
#include "carving/carver.h"
#include "carving/carvescan.h"

namespace {
constexpr std::size_t MiB = 1024 * 1024;

struct Planted {
    std::size_t offset;
    const char *type;
    bool footer;   // the planted file ends in its footer inside its chunk
};

// Common English words, with the ones that hold anchor pairs ("after",
// "software", "GIF", "ID", "PDF", "Rather") at their natural frequency.
const char *const words[] = {
    "the ", "of ", "and ", "to ", "a ", "in ", "is ", "it ", "you ", "that ", "he ", "was ", "for ", "on ", "are ",
    "with ", "as ", "I ", "his ", "they ", "be ", "at ", "one ", "have ", "this ", "from ", "or ", "had ", "by ",
    "not ", "word ", "but ", "what ", "some ", "we ", "can ", "out ", "other ", "were ", "all ", "there ", "when ",
    "up ", "use ", "your ", "how ", "said ", "an ", "each ", "she ", "which ", "do ", "their ", "time ", "if ",
    "will ", "way ", "about ", "many ", "then ", "them ", "write ", "would ", "like ", "so ", "these ", "her ",
    "long ", "make ", "thing ", "see ", "him ", "two ", "has ", "look ", "more ", "day ", "could ", "go ", "come ",
    "did ", "number ", "sound ", "no ", "most ", "people ", "my ", "over ", "know ", "water ", "than ", "call ",
    "first ", "who ", "may ", "down ", "side ", "been ", "now ", "find ", "after ", "left ", "software ", "file ",
    "disk ", "recovery ", "The ", "In ", "It ", "This ", "GIF ", "ID ", "PDF ", "Rather ", "Paris ", "BBC ",
    "2026 ", "12 ", "data, ", "system. ", "\n", "\n\n", "(see ", "notes) ", "- ", "Linux ", "Debian ", "user "};

void fillNoise(XorShift &rng, std::uint8_t *p, std::size_t n)
{
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        const std::uint64_t v = rng.next();
        std::memcpy(p + i, &v, 8);
    }
    for (; i < n; ++i)
        p[i] = std::uint8_t(rng.next());
}

void fillText(XorShift &rng, std::uint8_t *p, std::size_t n)
{
    std::size_t i = 0;
    while (i < n) {
        const char *w = words[rng.below(std::size(words))];
        const std::size_t len = std::min(std::strlen(w), n - i);
        std::memcpy(p + i, w, len);
        i += len;
    }
}

// Plants one file of a random kind at `at`, which has room for `room` bytes in
// its chunk. Returns its length.
std::size_t plantFile(XorShift &rng, std::uint8_t *base, std::size_t at, std::size_t room,
                      std::vector<Planted> &planted)
{
    std::uint8_t *p = base + at;
    const std::size_t body = 200 + rng.below(std::min<std::size_t>(room - 300, 60000));
    switch (rng.below(6)) {
    case 0: { // JPEG
        const std::uint8_t head[] = {0xFF, 0xD8, 0xFF, 0xE0};
        std::memcpy(p, head, 4);
        p[body - 2] = 0xFF;
        p[body - 1] = 0xD9;
        planted.push_back({at, "JPEG", true});
        break;
    }
    case 1: { // PNG
        const std::uint8_t head[] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
        const std::uint8_t tail[] = {'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82};
        std::memcpy(p, head, 8);
        std::memcpy(p + body - 8, tail, 8);
        planted.push_back({at, "PNG", true});
        break;
    }
    case 2: // PDF
        std::memcpy(p, "%PDF-1.7", 8);
        std::memcpy(p + body - 5, "%%EOF", 5);
        planted.push_back({at, "PDF", true});
        break;
    case 3: { // HEIC: an ftyp box behind three zero bytes
        const std::uint8_t box[] = {0, 0, 0, 0x18, 'f', 't', 'y', 'p', 'h', 'e', 'i', 'c', 0, 0, 0, 0};
        std::memcpy(p, box, sizeof box);
        planted.push_back({at, "HEIC", false});
        planted.push_back({at, "MP4", false});
        break;
    }
    case 4: // WAV
        std::memcpy(p, "RIFF\x10\x20\x00\x00WAVEfmt ", 16);
        planted.push_back({at, "WAV", false});
        break;
    default: // ZIP
        std::memcpy(p, "PK\x03\x04", 4);
        planted.push_back({at, "ZIP/DOCX", false});
        break;
    }
    return body;
}

struct Composition {
    std::size_t noise = 0, zeros = 0, text = 0;
};

// Segments drawn so that, by bytes, about 55% are noise (compressed or
// encrypted content), 30% zero runs (never-written space) and 15% text.
std::vector<std::uint8_t> buildData(std::size_t size, std::vector<Planted> &planted, Composition &mix)
{
    std::vector<std::uint8_t> data(size);
    XorShift rng{0x5157A3C0FFEEULL};
    std::size_t at = 0;
    while (at < size) {
        const std::size_t kind = rng.below(100);
        std::size_t len;
        if (kind < 55) {
            len = std::min(size - at, 64 * 1024 + rng.below(4 * MiB));
            fillNoise(rng, data.data() + at, len);
            mix.noise += len;
        } else if (kind < 85) { // zero run (the vector is zeroed already)
            len = std::min(size - at, 64 * 1024 + rng.below(4 * MiB));
            mix.zeros += len;
        } else {
            len = std::min(size - at, 64 * 1024 + rng.below(4 * MiB));
            fillText(rng, data.data() + at, len);
            mix.text += len;
        }
        at += len;
    }
    // Planted files, each inside one chunk.
    for (std::size_t chunk = 0; chunk + MiB <= size; chunk += MiB) {
        std::size_t pos = chunk + rng.below(MiB / 2);
        for (int i = 0, n = int(rng.below(4)); i < n && pos + 70000 < chunk + MiB; ++i)
            pos += plantFile(rng, data.data(), pos, chunk + MiB - pos, planted) + rng.below(4096);
    }
    std::sort(planted.begin(), planted.end(), [](const Planted &a, const Planted &b) { return a.offset < b.offset; });
    return data;
}

double seconds(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    const std::size_t size = (argc > 2 ? std::size_t(std::max(1, std::atoi(argv[2]))) : 1024) * MiB;
    bool reread = false;
    bool memoize = true;
    for (int i = 3; i < argc; ++i) {
        if (std::strcmp(argv[i], "reread") == 0)
            reread = true;
        else if (std::strcmp(argv[i], "nomemo") == 0)
            memoize = false;
        else if (std::strcmp(argv[i], "portable") == 0)
            setPairFilterPath(PairFilterPath::portable);
        else if (std::strcmp(argv[i], "ssse3") == 0)
            setPairFilterPath(PairFilterPath::ssse3);
    }

    auto t = std::chrono::steady_clock::now();
    std::vector<Planted> planted;
    Composition mix;
    const std::vector<std::uint8_t> data = buildData(size, planted, mix);
    std::printf("data: %zu MiB (noise %.0f%%, zero runs %.0f%%, text %.0f%%), %zu planted hits, built in %.2f s\n",
                size / MiB, 100.0 * double(mix.noise) / double(size), 100.0 * double(mix.zeros) / double(size),
                100.0 * double(mix.text) / double(size), planted.size(), seconds(t));
    std::printf("threads: 1, chunk: 1 MiB, %s, signatures: %lld, pair filter: %s\n",
                !reread ? "in-buffer window"
                        : memoize ? "read-ahead windows of up to 10 MiB, footers remembered"
                                  : "read-ahead windows of up to 10 MiB, footers searched per step",
                static_cast<long long>(defaultSignatures().size()), pairFilterPathName(pairFilterPath()));

    const Carver carver(defaultSignatures());
    double bestCarve = 0, bestMemchr = 0;
    for (int round = 1; round <= rounds; ++round) {
        std::size_t hits = 0, good = 0;
        std::vector<std::size_t> byType(std::size_t(defaultSignatures().size()), 0);
        std::vector<char> found(planted.size(), 0);
        std::size_t nextPlanted = 0;   // hits come in offset order
        CarveFooterMemo memo;
        t = std::chrono::steady_clock::now();
        for (std::size_t chunk = 0; chunk < size; chunk += MiB) {
            const std::size_t n = std::min(MiB, size - chunk);
            CarveInput input = CarveInput::inBuffer({data.data() + chunk, n}, n, chunk);
            if (reread) {
                constexpr std::size_t overlap = 8 + 16;   // longest header + validator bytes
                input.buffer = {data.data() + chunk, std::min(MiB + overlap, size - chunk)};
                input.area = {data.data() + chunk, std::min(MiB + 10 * MiB, size - chunk)};
                input.windowEnd = input.area.size();
                input.windowCap = 10 * MiB;
                if (memoize)
                    input.footerMemo = &memo;
            }
            carver.carve(input, [&](const CarveHit &hit) {
                ++hits;
                good += hit.health == CarvedFileHealth::good;
                const std::size_t offset = chunk + hit.position;
                ++byType[std::size_t(hit.signature)];
                while (nextPlanted < planted.size() && planted[nextPlanted].offset < offset)
                    ++nextPlanted;
                for (std::size_t i = nextPlanted; i < planted.size() && planted[i].offset == offset; ++i) {
                    if (defaultSignatures()[hit.signature].typeName == QLatin1String(planted[i].type)
                        && (!planted[i].footer || hit.health == CarvedFileHealth::good))
                        found[i] = 1;
                }
            });
        }
        const double carveSeconds = seconds(t);

        t = std::chrono::steady_clock::now();
        std::size_t ffCount = 0;
        const std::uint8_t *p = data.data();
        const std::uint8_t *const end = p + size;
        while (p < end) {
            const void *hit = std::memchr(p, 0xFF, std::size_t(end - p));
            if (!hit)
                break;
            ++ffCount;
            p = static_cast<const std::uint8_t *>(hit) + 1;
        }
        const double memchrSeconds = seconds(t);

        const std::size_t foundCount = std::size_t(std::count(found.begin(), found.end(), 1));
        const double carveRate = double(size) / 1e6 / carveSeconds;
        const double memchrRate = double(size) / 1e6 / memchrSeconds;
        bestCarve = std::max(bestCarve, carveRate);
        bestMemchr = std::max(bestMemchr, memchrRate);
        if (reread && memoize)
            std::printf("footer search: %.0f MiB\n", double(memo.searchedBytes()) / double(MiB));
        std::printf("round %d: carve %.0f MB/s (%.3f s, %zu hits, %zu good), memchr 0xFF %.0f MB/s (%.3f s, %zu found),"
                    " ratio %.2f, planted found %zu/%zu\n",
                    round, carveRate, carveSeconds, hits, good, memchrRate, memchrSeconds, ffCount,
                    carveRate / memchrRate, foundCount, planted.size());
        if (round == 1) {
            std::printf("hits by type:");
            for (std::size_t i = 0; i < byType.size(); ++i) {
                if (byType[i])
                    std::printf(" %s=%zu", qPrintable(defaultSignatures()[int(i)].typeName), byType[i]);
            }
            std::printf("\n");
        }
        if (foundCount != planted.size()) {
            std::printf("MISSED planted hits\n");
            return 1;
        }
    }
    std::printf("best: carve %.0f MB/s, memchr %.0f MB/s, ratio of bests %.2f\n", bestCarve, bestMemchr,
                bestCarve / bestMemchr);
    return 0;
}
