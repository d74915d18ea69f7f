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
        arcs_.resize(size_t(nodes + 1) * kStride);
        nodes_.resize(size_t(nodes) + 1);
        // Node 0: where missing arcs lead; it has no arcs and is never in a tree.
        std::fill_n(arcs_.begin(), kStride, Arc{});
        nodes_[0] = Node{};
    }
    void clearArcs(int node) { std::fill_n(arcs_.begin() + size_t(node) * kStride, kSlots, Arc{}); }
    // One direction of an arc pair; the caller sets the reverse slot of the
    // other end as well.
    void setArc(int from, int slot, int to, Cap capacity) {
        arcs_[size_t(from) * kStride + slot] = Arc{to, capacity};
    }
    // excess > 0: capacity from the source; < 0: capacity to the sink.
    void setTerminal(int node, Cap excess) { nodes_[node].excess = excess; }

    Cap maxflow() {
        Cap flow = pushAcrossOneArc();
        time_ = 0;
        first_ = last_ = -1;
        for (size_t i = 1; i < nodes_.size(); ++i) {
            Node& v = nodes_[i];
            v.next = -1;
            v.ts = 0;
            v.dist = 1;
            v.sink = v.excess < 0;
            v.parent = v.excess != 0 ? kTerminal : kFree;
            if (v.excess != 0) activate(int(i));
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
    static constexpr int kStride = kSlots;
    static constexpr int kFree = -1, kTerminal = -2, kOrphan = -3;
    struct Arc {
        int head = 0;
        Cap capacity = 0;  // residual
    };
    struct Node {
        int parent = kFree;  // arc towards the tree's root, or one of the marks above
        int next = -1;       // in the active queue: the next node, itself at the end
        int ts = 0, dist = 0;  // when the distance to the root was last known good
        Cap excess = 0;
        bool sink = false;
    };

    // Most of the flow of a move goes source - node - node - sink; sending
    // it straight away spares the trees most of their augmentations.
    Cap pushAcrossOneArc() {
        Cap flow = 0;
        for (size_t i = 1; i < nodes_.size(); ++i) {
            Cap& excess = nodes_[i].excess;
            for (int slot = 0; slot < kSlots && excess > 0; ++slot) {
                Arc& arc = arcs_[i * kStride + slot];
                Cap& deficit = nodes_[arc.head].excess;
                if (deficit >= 0 || arc.capacity == 0) continue;
                const Cap sent = std::min({excess, Cap(-deficit), arc.capacity});
                excess -= sent;
                deficit += sent;
                arc.capacity -= sent;
                arcs_[arc.head * kStride + reverseSlot(slot)].capacity += sent;
                flow += sent;
            }
        }
        return flow;
    }

    int reverse(int arc) const { return arcs_[arc].head * kStride + reverseSlot(arc % kStride); }

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
    int grow(int i) {
        Node& v = nodes_[i];
        for (int slot = 0; slot < kSlots; ++slot) {
            const int arc = i * kStride + slot;
            const int j = arcs_[arc].head;
            const int back = j * kStride + reverseSlot(slot);
            if ((v.sink ? arcs_[back].capacity : arcs_[arc].capacity) == 0) continue;
            Node& u = nodes_[j];
            if (u.parent == kFree) {
                u.sink = v.sink;
                u.parent = back;
                u.ts = v.ts;
                u.dist = v.dist + 1;
                activate(j);
            } else if (u.sink != v.sink) {
                return v.sink ? back : arc;
            } else if (u.ts <= v.ts && u.dist > v.dist) {
                u.parent = back;
                u.ts = v.ts;
                u.dist = v.dist + 1;
            }
        }
        return -1;
    }

    void makeOrphan(int i) {
        nodes_[i].parent = kOrphan;
        orphans_.push_back(i);
    }

    Cap augment(int middle) {
        // The bottleneck: the middle arc, each tree's path, the two terminals.
        Cap bottleneck = arcs_[middle].capacity;
        int i = middle / kStride;
        for (int a; (a = nodes_[i].parent) != kTerminal; i = arcs_[a].head)
            bottleneck = std::min(bottleneck, arcs_[reverse(a)].capacity);
        bottleneck = std::min(bottleneck, nodes_[i].excess);
        i = arcs_[middle].head;
        for (int a; (a = nodes_[i].parent) != kTerminal; i = arcs_[a].head)
            bottleneck = std::min(bottleneck, arcs_[a].capacity);
        bottleneck = std::min(bottleneck, Cap(-nodes_[i].excess));

        arcs_[reverse(middle)].capacity += bottleneck;
        arcs_[middle].capacity -= bottleneck;
        for (i = middle / kStride;;) {
            const int a = nodes_[i].parent;
            if (a == kTerminal) break;
            const int up = arcs_[a].head;
            Cap& forward = arcs_[reverse(a)].capacity;
            arcs_[a].capacity += bottleneck;
            forward -= bottleneck;
            if (forward == 0) makeOrphan(i);
            i = up;
        }
        nodes_[i].excess -= bottleneck;
        if (nodes_[i].excess == 0) makeOrphan(i);
        for (i = arcs_[middle].head;;) {
            const int a = nodes_[i].parent;
            if (a == kTerminal) break;
            const int down = arcs_[a].head;
            arcs_[reverse(a)].capacity += bottleneck;
            arcs_[a].capacity -= bottleneck;
            if (arcs_[a].capacity == 0) makeOrphan(i);
            i = down;
        }
        nodes_[i].excess += bottleneck;
        if (nodes_[i].excess == 0) makeOrphan(i);
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
            k = arcs_[u.parent].head;
        }
        for (int e = d, k2 = j; nodes_[k2].ts != time_; k2 = arcs_[nodes_[k2].parent].head, --e) {
            nodes_[k2].ts = time_;
            nodes_[k2].dist = e;
        }
        return d;
    }

    void adoptOrphans() {
        for (size_t next = 0; next < orphans_.size(); ++next) adopt(orphans_[next]);
        orphans_.clear();
    }

    // Re-attaches orphan i to its tree through the neighbour nearest the
    // root, or frees it and orphans its children.
    void adopt(int i) {
        Node& v = nodes_[i];
        int best = -1, bestDist = INT_MAX;
        for (int slot = 0; slot < kSlots; ++slot) {
            const int arc = i * kStride + slot;
            const int j = arcs_[arc].head;
            const Node& u = nodes_[j];
            if (u.parent == kFree || u.sink != v.sink) continue;
            const Cap residual = v.sink ? arcs_[arc].capacity
                                        : arcs_[j * kStride + reverseSlot(slot)].capacity;
            if (residual == 0) continue;
            const int d = rootDistance(j);
            if (d < bestDist) {
                best = arc;
                bestDist = d;
            }
        }
        if (best >= 0) {
            v.parent = best;
            v.ts = time_;
            v.dist = bestDist + 1;
            return;
        }
        for (int slot = 0; slot < kSlots; ++slot) {
            const int arc = i * kStride + slot;
            const int j = arcs_[arc].head;
            Node& u = nodes_[j];
            if (u.parent == kFree || u.sink != v.sink) continue;
            const Cap residual = v.sink ? arcs_[arc].capacity
                                        : arcs_[j * kStride + reverseSlot(slot)].capacity;
            if (residual > 0) activate(j);
            if (u.parent >= 0 && arcs_[u.parent].head == i) makeOrphan(j);
        }
        v.parent = kFree;
    }

    std::vector<Arc> arcs_;
    std::vector<Node> nodes_;
    std::vector<int> orphans_;
    int first_ = -1, last_ = -1;
    int time_ = 0;
};

}  // namespace gc
