// A block's further arguments, held by reference and handed on in one piece: what std::tie and
// std::apply do for the band engine's pairs of blocks (dsp/band_engine.h), as templates of the
// instruction set's own namespace (dsp/target.h). The standard tuple is made of parts over the
// element types alone, such as the part holding a `const float&`, which the units of every
// instruction set would emit under one name wherever they are not inlined. Every function here is
// always inlined, and nothing of it is emitted.
#pragma once

#include "dsp/target.h"

inline namespace ZELKO_TARGET_NAMESPACE {

template <class... A>
struct BlockArguments;

template <>
struct BlockArguments<> {
    // f(taken...), the references taken so far.
    template <class F, class... Taken>
    [[gnu::always_inline]] decltype(auto) callWith(F& f, Taken&... taken) const {
        return f(taken...);
    }
};

template <class A, class... Rest>
struct BlockArguments<A, Rest...> {
    [[gnu::always_inline]] BlockArguments(A& a, Rest&... rest) : first(a), rest(rest...) {}

    template <class F, class... Taken>
    [[gnu::always_inline]] decltype(auto) callWith(F& f, Taken&... taken) const {
        return rest.callWith(f, taken..., first);
    }

    A& first;
    BlockArguments<Rest...> rest;
};

// The references to `a...`, as std::tie.
template <class... A>
[[gnu::always_inline]] inline BlockArguments<A...> tieBlockArguments(A&... a) {
    return BlockArguments<A...>(a...);
}

// f(a...) of the references in `arguments`, as std::apply.
template <class F, class... A>
[[gnu::always_inline]] inline decltype(auto) applyBlockArguments(
    F&& f, const BlockArguments<A...>& arguments) {
    return arguments.callWith(f);
}

}  // namespace ZELKO_TARGET_NAMESPACE
