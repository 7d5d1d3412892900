// gumbo with a counting, sweeping allocator.
#include "platform/html/html_tree.h"

#include "platform/pump/pump.h"

#include <csetjmp>
#include <cstdlib>
#include <limits>
#include <utility>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#else
// Without AddressSanitizer nothing is marked.
#define ASAN_POISON_MEMORY_REGION(address, size) ((void)(address), (void)(size))
#define ASAN_UNPOISON_MEMORY_REGION(address, size) ((void)(address), (void)(size))
#endif

// The parser makes thousands of small blocks per page and frees them all at the end. They are
// cut from large chunks instead of taken from the heap one by one: a block the parser frees
// goes on the list of its size and serves the next request of that size, and the chunks all
// go together with the tree. The heap sees a few large blocks per page, so the long-lived
// anchors of the pages a crawl holds are not scattered among freed parser blocks.
struct HtmlTree::Arena {
    static constexpr size_t kAlign = 16;
    static constexpr size_t kChunkBytes = size_t(64) << 10;
    static constexpr size_t kOwnChunkBytes = kChunkBytes / 4; // larger blocks get a chunk each
    static constexpr size_t kSmallClasses = 64;               // 16, 32, ... 1024 bytes
    static constexpr size_t kClasses = kSmallClasses + 64;    // then 2048, 4096, ...
    static constexpr size_t kMaxBlock = size_t(1) << 48;

    // In front of every block: its size class.
    struct alignas(kAlign) Header {
        size_t sizeClass;
    };
    struct alignas(kAlign) Chunk {
        Chunk* next;
    };
    struct FreeBlock {
        FreeBlock* next;
    };

    Arena() = default;
    ~Arena() {
        while (chunks) {
            Chunk* chunk = std::exchange(chunks, chunks->next);
            std::free(chunk);
        }
    }
    Arena(const Arena&) = delete;
    Arena& operator=(const Arena&) = delete;

    static size_t ClassOf(size_t size) {
        if (size <= kSmallClasses * kAlign)
            return size == 0 ? 0 : (size - 1) / kAlign;
        size_t cls = kSmallClasses, bytes = kSmallClasses * kAlign * 2;
        while (bytes < size) {
            bytes *= 2;
            ++cls;
        }
        return cls;
    }
    static size_t BytesOf(size_t cls) {
        return cls < kSmallClasses ? (cls + 1) * kAlign
                                   : (kSmallClasses * kAlign) << (cls - kSmallClasses + 1);
    }

    // A new block of the class; null when the heap has no room.
    void* Carve(size_t cls) {
        const size_t need = sizeof(Header) + BytesOf(cls);
        if (need > kOwnChunkBytes) {
            auto* chunk = static_cast<Chunk*>(std::malloc(sizeof(Chunk) + need));
            if (!chunk)
                return nullptr;
            chunk->next = chunks;
            chunks = chunk;
            return chunk + 1;
        }
        if (static_cast<size_t>(limit - cursor) < need) {
            auto* chunk = static_cast<Chunk*>(std::malloc(sizeof(Chunk) + kChunkBytes));
            if (!chunk)
                return nullptr;
            chunk->next = chunks;
            chunks = chunk;
            cursor = reinterpret_cast<char*>(chunk + 1);
            limit = cursor + kChunkBytes;
            ASAN_POISON_MEMORY_REGION(cursor, kChunkBytes);
        }
        return std::exchange(cursor, cursor + need);
    }

    // A block of at least size bytes; null when the heap has no room.
    void* Get(size_t size) {
        const size_t cls = ClassOf(size);
        void* place = nullptr;
        if (FreeBlock* block = freeLists[cls]) {
            ASAN_UNPOISON_MEMORY_REGION(block, sizeof(FreeBlock));
            freeLists[cls] = block->next;
            place = reinterpret_cast<Header*>(block) - 1;
        } else {
            place = Carve(cls);
            if (!place)
                return nullptr;
        }
        ASAN_UNPOISON_MEMORY_REGION(place, sizeof(Header) + BytesOf(cls));
        auto* header = static_cast<Header*>(place);
        header->sizeClass = cls;
        return header + 1;
    }

    void Put(void* pointer) {
        Header* header = static_cast<Header*>(pointer) - 1;
        const size_t cls = header->sizeClass;
        auto* block = static_cast<FreeBlock*>(pointer);
        block->next = freeLists[cls];
        freeLists[cls] = block;
        ASAN_POISON_MEMORY_REGION(header, sizeof(Header) + BytesOf(cls));
    }

    Chunk* chunks = nullptr;
    char* cursor = nullptr;
    char* limit = nullptr;
    FreeBlock* freeLists[kClasses] = {};
    size_t allocated = 0;
    size_t budget = 0;
    std::jmp_buf* overBudget = nullptr; // where the parse is left
    bool abandoned = false;             // left because the work was abandoned
};

namespace {

using Arena = HtmlTree::Arena;

// About the bytes of text the parser reads in the time of one allocation of a tag.
constexpr size_t kBytesPerStep = 64;

void* Allocate(void* userdata, size_t size) {
    auto& arena = *static_cast<Arena*>(userdata);
    arena.allocated += size;
    // The parser allocates all along its work: the one place where the window can be heard
    // while it runs. A large block stands for the text the parser read to fill it.
    arena.abandoned = KeepResponsive(1 + size / kBytesPerStep);
    void* block = arena.allocated <= arena.budget && size <= Arena::kMaxBlock && !arena.abandoned
                      ? arena.Get(size)
                      : nullptr;
    // The parser cannot handle a failed allocation, so it is left where it stands; every block
    // it had goes with the arena.
    if (!block)
        std::longjmp(*arena.overBudget, 1);
    return block;
}

void Deallocate(void* userdata, void* pointer) {
    if (pointer)
        static_cast<Arena*>(userdata)->Put(pointer);
}

// Kept apart so that nothing with a destructor lives between setjmp and longjmp.
GumboOutput* ParseInArena(Arena& arena, const char* markup, size_t length) {
    GumboOptions options = kGumboDefaultOptions;
    options.allocator = Allocate;
    options.deallocator = Deallocate;
    options.userdata = &arena;
    // Recording errors copies the stack of open elements for each one: quadratic memory on
    // deeply nested pages, and nobody reads them.
    options.max_errors = 0;
    std::jmp_buf overBudget;
    arena.overBudget = &overBudget;
    if (setjmp(overBudget) != 0) {
        arena.overBudget = nullptr;
        return nullptr;
    }
    GumboOutput* output = gumbo_parse_with_options(&options, markup, length);
    arena.overBudget = nullptr;
    return output;
}

size_t Budget(size_t base, size_t perByte, size_t length) {
    constexpr size_t kMax = std::numeric_limits<size_t>::max();
    if (perByte != 0 && length > (kMax - base) / perByte)
        return kMax;
    return base + perByte * length;
}

} // namespace

HtmlTree::HtmlTree(std::string_view markup, size_t budgetBase, size_t budgetPerByte)
    : m_arena(std::make_unique<Arena>()) {
    m_arena->budget = Budget(budgetBase, budgetPerByte, markup.size());
    m_output = ParseInArena(*m_arena, markup.data(), markup.size());
}

HtmlTree::~HtmlTree() = default;

bool HtmlTree::Abandoned() const {
    return m_arena->abandoned;
}
