// The context-statistics loader (lexical.ctx and the role .ctx files) and
// the probabilities the tagger asks for. Statistics that load must save to
// bytes that load to the same statistics.
#include <cmath>

#include "FuzzSupport.h"
#include "segment/CContextStat.h"

using namespace kestrel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CContextStat context;
    if (const Status loaded = context.loadFromBytes(fuzz::bytesOf(data, size), "input"); !loaded) {
        fuzz::require(!loaded.message().empty() && !context.isLoaded(), "a failed load leaves a message and no statistics");
        return 0;
    }
    const std::string saved = context.serialize();
    CContextStat again;
    fuzz::require(again.loadFromBytes(saved, "saved").ok(), "saved statistics load");
    fuzz::require(again.serialize() == saved, "saved statistics load unchanged");

    const std::vector<int32_t>& symbols = context.symbols();
    const size_t n = std::min<size_t>(symbols.size(), 64);
    for (size_t i = 0; i < n; ++i) {
        context.getTagFrequency(symbols[i]);
        for (size_t j = 0; j < n; ++j) {
            const double p = context.getContextProbability(symbols[i], symbols[j]);
            fuzz::require(!std::isnan(p), "a context probability is a number");
            context.transitionCost(static_cast<int>(i), static_cast<int>(j));
        }
    }
    context.getContextProbability(-1, 0);
    context.transitionCost(-1, 0);
    return 0;
}
