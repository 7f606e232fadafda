// Linked into brevalo-cli only with BREVALO_STATIC_CLI: the memory allocation functions of
// the whole process, the C library's own calls included.
//
// deliver runs once per message and ends: a fifth of its instructions went to the C
// library's allocator sorting and splitting its lists for blocks that the process's end
// frees anyway. For deliver (chosen from the command line before any library's
// constructor runs) blocks come in order from one region of fresh memory and are never
// reused: a free costs nothing, and neither does clearing a calloc block (fresh pages are
// zero). A delivery that outgrows the region, every other command, and whatever was
// allocated before the choice use the C library's allocator, to which the pointers
// outside the region go back.
#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include <dlfcn.h>
#include <sys/mman.h>

extern "C" {
void* __libc_malloc(std::size_t size);
void __libc_free(void* block);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* block, std::size_t size);
void* __libc_memalign(std::size_t alignment, std::size_t size);
}

namespace {

// Reserved, not committed: only the pages written cost memory.
constexpr std::size_t regionSize = std::size_t{64} << 20;
// A block's size stands in the 8 bytes before it.
constexpr std::size_t sizeField = 8;
constexpr std::size_t minimumAlignment = 16;

char* region = nullptr;
std::atomic<std::size_t> used{0};

bool inRegion(const void* block) {
    auto at = reinterpret_cast<std::uintptr_t>(block),
         start = reinterpret_cast<std::uintptr_t>(region);
    return region && at >= start && at < start + regionSize;
}

std::size_t roundUp(std::size_t value, std::size_t alignment) {
    return (value + alignment - 1) & ~(alignment - 1);
}

std::size_t sizeOf(const void* block) {
    std::size_t size = 0;
    std::memcpy(&size, static_cast<const char*>(block) - sizeField, sizeField);
    return size;
}

// A fresh block of the region, or null when it is not in use or full.
void* take(std::size_t size, std::size_t alignment) {
    if (!region || size > regionSize)
        return nullptr;
    std::size_t start = used.load(std::memory_order_relaxed);
    for (;;) {
        std::size_t data = roundUp(start + sizeField, alignment);
        std::size_t end = roundUp(data + size, minimumAlignment);
        if (end > regionSize)
            return nullptr;
        if (used.compare_exchange_weak(start, end, std::memory_order_relaxed)) {
            std::memcpy(region + data - sizeField, &size, sizeField);
            return region + data;
        }
    }
}

// Whether the block, the last one handed out, could be made `size` bytes long where it lies.
bool grow(void* block, std::size_t size) {
    std::size_t data = static_cast<std::size_t>(static_cast<char*>(block) - region);
    std::size_t end = roundUp(data + sizeOf(block), minimumAlignment);
    std::size_t newEnd = roundUp(data + size, minimumAlignment);
    if (newEnd > regionSize ||
        !used.compare_exchange_strong(end, newEnd, std::memory_order_relaxed))
        return false;
    std::memcpy(static_cast<char*>(block) - sizeField, &size, sizeField);
    return true;
}

bool isPowerOfTwo(std::size_t value) {
    return value && !(value & (value - 1));
}

// Runs before the constructors of the libraries (priority 101 comes first) with the
// program's arguments; the command is the first argument that is no option, as main reads it.
__attribute__((constructor(101))) void chooseAllocator(int argc, char** argv, char**) {
    int first = 1;
    while (first < argc && argv[first][0] == '-')
        ++first;
    if (first >= argc || std::strcmp(argv[first], "deliver") != 0)
        return;
    void* memory = mmap(nullptr, regionSize, PROT_READ | PROT_WRITE,
                        MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (memory != MAP_FAILED)
        region = static_cast<char*>(memory);
}

} // namespace

extern "C" {

void* malloc(std::size_t size) noexcept {
    if (void* block = take(size, minimumAlignment))
        return block;
    return __libc_malloc(size);
}

void free(void* block) noexcept {
    if (block && !inRegion(block))
        __libc_free(block);
}

void* calloc(std::size_t count, std::size_t size) noexcept {
    std::size_t total = 0;
    if (__builtin_mul_overflow(count, size, &total)) {
        errno = ENOMEM;
        return nullptr;
    }
    // Never handed out before: still the zeros the system gave.
    if (void* block = take(total, minimumAlignment))
        return block;
    return __libc_calloc(count, size);
}

void* realloc(void* block, std::size_t size) noexcept {
    if (!block)
        return malloc(size);
    if (!inRegion(block))
        return __libc_realloc(block, size);
    if (size == 0)
        return nullptr; // the C library's realloc frees it: here, nothing to do
    std::size_t old = sizeOf(block);
    if (size <= old || grow(block, size))
        return block;
    void* moved = malloc(size);
    if (moved)
        std::memcpy(moved, block, old);
    return moved;
}

void* reallocarray(void* block, std::size_t count, std::size_t size) noexcept {
    std::size_t total = 0;
    if (__builtin_mul_overflow(count, size, &total)) {
        errno = ENOMEM;
        return nullptr;
    }
    return realloc(block, total);
}

void* memalign(std::size_t alignment, std::size_t size) noexcept {
    if (isPowerOfTwo(alignment))
        if (void* block = take(size, alignment < minimumAlignment ? minimumAlignment : alignment))
            return block;
    return __libc_memalign(alignment, size);
}

void* aligned_alloc(std::size_t alignment, std::size_t size) noexcept {
    return memalign(alignment, size);
}

int posix_memalign(void** result, std::size_t alignment, std::size_t size) noexcept {
    if (!isPowerOfTwo(alignment) || alignment % sizeof(void*) != 0)
        return EINVAL;
    void* block = memalign(alignment, size);
    if (!block)
        return ENOMEM;
    *result = block;
    return 0;
}

std::size_t malloc_usable_size(void* block) noexcept {
    if (!block)
        return 0;
    if (inRegion(block))
        return sizeOf(block);
    using Usable = std::size_t (*)(void*);
    static Usable library = reinterpret_cast<Usable>(dlsym(RTLD_NEXT, "malloc_usable_size"));
    return library ? library(block) : 0;
}

} // extern "C"
