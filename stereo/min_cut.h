#pragma once
// Minimum s-t cut of a graph whose nodes have at most six arcs each, made
// for the graph of one graph-cut expansion move (two nodes a pixel, four
// grid neighbours and two links between the two kinds of node). Arcs come in
// reverse pairs by slot: slot 0 of one end pairs with slot 1 of the other,
// 2 with 3, 4 with 4 and 5 with 5. All arcs of a node lie in one block, so a
// node's neighbourhood is one or two cache lines rather than a linked list.
//
// Boykov and Kolmogorov's augmenting paths: a search tree grows from the
// source and one from the sink until they touch, the path is saturated, and
// the nodes cut off are re-attached to their tree or freed.

#include <algorithm>
#include <climits>
#include <cstdint>
#include <type_traits>
#include <vector>

namespace gc {

template <class Cap>
class SlotGraph {
public:
    static constexpr int kSlots = 6;
    static constexpr int reverseSlot(int slot) { return slot < 4 ? slot ^ 1 : slot; }

    // A graph of nodes nodes (ids 1 to nodes); keeps its memory from the
    // graph before. The caller clears the arcs of, and sets the terminal
    // capacity of, every node: a move's graph is rebuilt a hundred times a
    // frame, and clearing it all at once cost more than building it.
    void reset(int nodes) {
        nodes_.resize(size_t(nodes) + 1);
        excess_.resize(size_t(nodes) + 1);
        // Node 0: where missing arcs lead; it has no arcs and is never in a tree.
        nodes_[0] = Node{};
        excess_[0] = 0;
    }
    void clearArcs(int node) { std::fill_n(nodes_[node].arcs, kSlots, Arc{}); }
    // One direction of an arc pair; the caller sets the reverse slot of the
    // other end as well.
    void setArc(int from, int slot, int to, Cap capacity) { nodes_[from].arcs[slot] = Arc{to, capacity}; }
    // excess > 0: capacity from the source; < 0: capacity to the sink.
    void setTerminal(int node, Cap excess) { excess_[node] = excess; }

    Cap maxflow() {
        Cap flow = pushAlongShortPaths();
        time_ = 0;
        first_ = last_ = -1;
        for (size_t i = 1; i < nodes_.size(); ++i) {
            Node& v = nodes_[i];
            const Cap excess = excess_[i];
            v.next = -1;
            v.ts = 0;
            v.dist = 1;
            v.sink = excess < 0;
            v.parent = excess != 0 ? kTerminal : kFree;
            if (excess != 0) activate(int(i));
        }
        int current = -1;
        for (;;) {
            int i = current;
            if (i >= 0) {
                nodes_[i].next = -1;
                if (nodes_[i].parent == kFree) i = -1;
            }
            if (i < 0 && (i = nextActive()) < 0) break;
            const int meeting = grow(i);
            if (meeting < 0) {
                current = -1;
                continue;
            }
            nodes_[i].next = i;  // stays active without entering the queue
            current = i;
            ++time_;
            flow += augment(meeting);
            adoptOrphans();
        }
        return flow;
    }

    // After maxflow: whether the node lies on the sink side of a minimum cut.
    bool onSinkSide(int node) const { return nodes_[node].parent != kFree && nodes_[node].sink; }

private:
    static constexpr int kFree = -1, kTerminal = -2, kOrphan = -3;
    struct Arc {
        int head = 0;
        Cap capacity = 0;  // residual
    };
    // A node's tree state shares a cache line with its arcs: growing and
    // mending the trees look at a neighbour's arcs and state together, and
    // the graph of a move is far larger than the cache.
    struct alignas(64) Node {
        Arc arcs[kSlots];
        int parent = kFree;  // arc towards the tree's root, or one of the marks above
        int next = -1;       // in the active queue: the next node, itself at the end
        int ts = 0;          // when the distance to the root was last known good
        unsigned dist : 31;
        unsigned sink : 1;
    };
    // An arc's id: its node's id times eight plus its slot.
    static int arcId(int node, int slot) { return node << 3 | slot; }
    static int nodeOf(int arc) { return arc >> 3; }
    Arc& arc(int id) { return nodes_[nodeOf(id)].arcs[id & 7]; }
    int head(int id) const { return nodes_[nodeOf(id)].arcs[id & 7].head; }
    int reverse(int id) const { return arcId(head(id), reverseSlot(id & 7)); }

    // Most of the flow of a move goes source - node - node - sink, or through
    // one node more; sending it straight away spares the trees most of their
    // augmentations, and the orphans each one leaves.
    Cap pushAlongShortPaths() {
        Cap flow = 0;
        for (int i = 1; i < int(nodes_.size()); ++i)
            for (int slot = 0; slot < kSlots && excess_[i] > 0; ++slot) flow += send(i, slot, -1);
        for (int i = 1; i < int(nodes_.size()); ++i)
            for (int slot = 0; slot < kSlots && excess_[i] > 0; ++slot) {
                const Arc& out = nodes_[i].arcs[slot];
                if (out.capacity == 0 || excess_[out.head] != 0) continue;
                for (int then = 0; then < kSlots && excess_[i] > 0 && out.capacity > 0; ++then)
                    flow += send(i, slot, then);
            }
        return flow;
    }

    // Sends what it can of i's excess along the arc in slot and, unless then
    // is -1, on along the arc in slot then of the node reached, into the
    // deficit of the node at the end.
    Cap send(int i, int slot, int then) {
        Arc& first = nodes_[i].arcs[slot];
        Node& middle = nodes_[first.head];
        Arc& last = then < 0 ? first : middle.arcs[then];
        Cap& deficit = excess_[last.head];
        if (deficit >= 0 || first.capacity == 0 || last.capacity == 0) return 0;
        const Cap sent = std::min({excess_[i], Cap(-deficit), first.capacity, last.capacity});
        excess_[i] -= sent;
        deficit += sent;
        first.capacity -= sent;
        middle.arcs[reverseSlot(slot)].capacity += sent;
        if (then >= 0) {
            last.capacity -= sent;
            nodes_[last.head].arcs[reverseSlot(then)].capacity += sent;
        }
        return sent;
    }

    void activate(int i) {
        if (nodes_[i].next >= 0) return;
        nodes_[i].next = i;
        if (last_ >= 0)
            nodes_[last_].next = i;
        else
            first_ = i;
        last_ = i;
    }
    int nextActive() {
        while (first_ >= 0) {
            const int i = first_;
            if (nodes_[i].next == i)
                first_ = last_ = -1;
            else
                first_ = nodes_[i].next;
            nodes_[i].next = -1;
            if (nodes_[i].parent != kFree) return i;
        }
        return -1;
    }

    // Grows i's tree by one node's neighbours; returns the arc where the
    // trees meet (from the source side to the sink side), or -1.
    int grow(int i) { return nodes_[i].sink ? growTree<true>(i) : growTree<false>(i); }

    // The hottest loop of the cut: one copy per tree and one step per slot,
    // so that neither the tree nor the reverse slot is decided at run time.
    template <bool kSink>
    int growTree(int i) {
        Node& v = nodes_[i];
        int meeting = -1;
        auto along = [&](auto slotConstant) {
            constexpr int slot = decltype(slotConstant)::value, backSlot = reverseSlot(slot);
            const Arc& out = v.arcs[slot];
            const int j = out.head;
            Node& u = nodes_[j];
            if ((kSink ? u.arcs[backSlot].capacity : out.capacity) == 0) return false;
            if (u.parent == kFree) {
                u.sink = kSink;
                u.parent = arcId(j, backSlot);
                u.ts = v.ts;
                u.dist = v.dist + 1;
                activate(j);
            } else if (u.sink != kSink) {
                meeting = kSink ? arcId(j, backSlot) : arcId(i, slot);
                return true;
            }
            // A tree node is not moved to a parent nearer the root here: on a
            // move's graph that cost more time than the shorter paths saved.
            return false;
        };
        untilSlot(along);
        return meeting;
    }

    // Takes step with each slot as a compile-time constant, until one
    // returns true.
    template <class Step>
    static void untilSlot(Step step) {
        using std::integral_constant;
        step(integral_constant<int, 0>{}) || step(integral_constant<int, 1>{}) ||
            step(integral_constant<int, 2>{}) || step(integral_constant<int, 3>{}) ||
            step(integral_constant<int, 4>{}) || step(integral_constant<int, 5>{});
    }

    void makeOrphan(int i) {
        nodes_[i].parent = kOrphan;
        orphans_.push_back(i);
    }

    Cap augment(int middle) {
        // The bottleneck: the middle arc, each tree's path, the two terminals.
        Cap bottleneck = arc(middle).capacity;
        int i = nodeOf(middle);
        for (int a; (a = nodes_[i].parent) != kTerminal; i = head(a))
            bottleneck = std::min(bottleneck, arc(reverse(a)).capacity);
        bottleneck = std::min(bottleneck, excess_[i]);
        i = head(middle);
        for (int a; (a = nodes_[i].parent) != kTerminal; i = head(a))
            bottleneck = std::min(bottleneck, arc(a).capacity);
        bottleneck = std::min(bottleneck, Cap(-excess_[i]));

        arc(reverse(middle)).capacity += bottleneck;
        arc(middle).capacity -= bottleneck;
        for (i = nodeOf(middle);;) {
            const int a = nodes_[i].parent;
            if (a == kTerminal) break;
            const int up = head(a);
            Cap& forward = arc(reverse(a)).capacity;
            arc(a).capacity += bottleneck;
            forward -= bottleneck;
            if (forward == 0) makeOrphan(i);
            i = up;
        }
        excess_[i] -= bottleneck;
        if (excess_[i] == 0) makeOrphan(i);
        for (i = head(middle);;) {
            const int a = nodes_[i].parent;
            if (a == kTerminal) break;
            const int down = head(a);
            arc(reverse(a)).capacity += bottleneck;
            arc(a).capacity -= bottleneck;
            if (arc(a).capacity == 0) makeOrphan(i);
            i = down;
        }
        excess_[i] += bottleneck;
        if (excess_[i] == 0) makeOrphan(i);
        return bottleneck;
    }

    // Distance from j to its tree's root, or INT_MAX where the path ends at an
    // orphan; marks the path's distances as known good now.
    int rootDistance(int j) {
        int d = 0, k = j;
        for (;;) {
            Node& u = nodes_[k];
            if (u.ts == time_) {
                d += u.dist;
                break;
            }
            ++d;
            if (u.parent == kTerminal) {
                u.ts = time_;
                u.dist = 1;
                break;
            }
            if (u.parent == kOrphan) return INT_MAX;
            k = head(u.parent);
        }
        for (int e = d, k2 = j; nodes_[k2].ts != time_; k2 = head(nodes_[k2].parent), --e) {
            nodes_[k2].ts = time_;
            nodes_[k2].dist = unsigned(e);
        }
        return d;
    }

    void adoptOrphans() {
        for (size_t next = 0; next < orphans_.size(); ++next) adopt(orphans_[next]);
        orphans_.clear();
    }

    // Re-attaches orphan i to its tree through the neighbour nearest the
    // root, or frees it and orphans its children.
    void adopt(int i) { nodes_[i].sink ? adoptInto<true>(i) : adoptInto<false>(i); }

    template <bool kSink>
    void adoptInto(int i) {
        Node& v = nodes_[i];
        // The residual capacity from the neighbour in slot towards the root, when in i's tree.
        auto towardsRoot = [&](auto slotConstant) -> Cap {
            constexpr int slot = decltype(slotConstant)::value;
            const Arc& out = v.arcs[slot];
            const Node& u = nodes_[out.head];
            if (u.parent == kFree || u.sink != kSink) return -1;
            return kSink ? out.capacity : u.arcs[reverseSlot(slot)].capacity;
        };
        int best = -1, bestDist = INT_MAX;
        untilSlot([&](auto slotConstant) {
            constexpr int slot = decltype(slotConstant)::value;
            if (towardsRoot(slotConstant) <= 0) return false;
            const int d = rootDistance(v.arcs[slot].head);
            if (d < bestDist) {
                best = arcId(i, slot);
                bestDist = d;
            }
            return false;
        });
        if (best >= 0) {
            v.parent = best;
            v.ts = time_;
            v.dist = unsigned(bestDist) + 1;
            return;
        }
        untilSlot([&](auto slotConstant) {
            constexpr int slot = decltype(slotConstant)::value;
            const Cap residual = towardsRoot(slotConstant);
            if (residual < 0) return false;
            const int j = v.arcs[slot].head;
            if (residual > 0) activate(j);
            if (nodes_[j].parent >= 0 && head(nodes_[j].parent) == i) makeOrphan(j);
            return false;
        });
        v.parent = kFree;
    }

    std::vector<Node> nodes_;
    std::vector<Cap> excess_;
    std::vector<int> orphans_;
    int first_ = -1, last_ = -1;
    int time_ = 0;
};

}  // namespace gc
