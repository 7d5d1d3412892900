// gumbo with a counting, sweeping allocator.
#include "platform/html_tree.h"

#include <csetjmp>
#include <cstdlib>
#include <limits>
#include <utility>

struct HtmlTree::Arena {
    // Every block is on one ring, so that the tree can go without walking it.
    struct alignas(16) Block {
        Block* prev;
        Block* next;
    };

    Arena() { ring.prev = ring.next = &ring; }
    ~Arena() {
        for (Block* block = ring.next; block != &ring;)
            std::free(std::exchange(block, block->next));
    }
    Arena(const Arena&) = delete;
    Arena& operator=(const Arena&) = delete;

    Block ring;
    size_t allocated = 0;
    size_t budget = 0;
    std::jmp_buf* overBudget = nullptr; // where the parse is abandoned
};

namespace {

using Arena = HtmlTree::Arena;

void* Allocate(void* userdata, size_t size) {
    auto& arena = *static_cast<Arena*>(userdata);
    arena.allocated += size;
    auto* block = arena.allocated <= arena.budget
                      ? static_cast<Arena::Block*>(std::malloc(sizeof(Arena::Block) + size))
                      : nullptr;
    // The parser cannot handle a failed allocation, so it is left where it stands; every block
    // it had is on the ring and goes with the arena.
    if (!block)
        std::longjmp(*arena.overBudget, 1);
    block->prev = arena.ring.prev;
    block->next = &arena.ring;
    arena.ring.prev->next = block;
    arena.ring.prev = block;
    return block + 1;
}

void Deallocate(void*, void* pointer) {
    if (!pointer)
        return;
    auto* block = static_cast<Arena::Block*>(pointer) - 1;
    block->prev->next = block->next;
    block->next->prev = block->prev;
    std::free(block);
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
