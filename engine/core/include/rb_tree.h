// rb_tree.h - the engine's red-black tree, keyed by the `id` field of its values (64-bit
// hardware or tag ids): the anchor-id map and each selector's tag table.
//
// The anchor-id map only grows; a selector erases the tags it forgets (erase_key frees the
// node and its value). Nodes still in a tree live until the process ends (the destructor
// frees nothing). A tree has no lock: the anchor-id map is used under its mutex, a
// selector's tag tree only by its own job's thread.
// The sentinel RBNode<K, V>::Nil() is one node per template instance, shared by every
// tree of that instance on every thread; it is created once (thread-safe) and never
// written afterwards, so trees on different threads never touch common memory. That is
// why the erase repair keeps the parent of a removed position in a local instead of in
// the sentinel, as the textbook delete does.
// Iteration is pre-order (node, left subtree, right subtree), not key order.
// Never throws: an insert that cannot allocate returns null.
#pragma once

#include <cstddef>
#include <new>
#include <vector>

enum RBColor : int { Black = 0, Red = 1 };

template <class K, class V>
class RBNode {
public:
    RBNode() = default;
    // The value is built from the key: `new V(key)`.
    explicit RBNode(K key) : data(new V(key)) {}
    virtual ~RBNode() { delete data; }

    RBNode(const RBNode&) = delete;
    RBNode& operator=(const RBNode&) = delete;

    // The shared sentinel: Black, no data, its links null for ever.
    static RBNode* Nil()
    {
        static RBNode* const nil = new RBNode();
        return nil;
    }

    V* data = nullptr;
    RBNode* left = nullptr;
    RBNode* right = nullptr;
    RBNode* parent = nullptr;
    RBColor color = Black;
};

template <class K, class V>
class RBIterator {
public:
    using Node = RBNode<K, V>;

    // Positioned at `root`, with the sentinel at the bottom of the stack: popping it ends
    // the walk. An empty tree's iterator is already at the end.
    explicit RBIterator(Node* root) : node(root) { backtrack.push_back(Node::Nil()); }
    RBIterator(const RBIterator& other) = default;
    RBIterator& operator=(const RBIterator& other) = default;
    ~RBIterator() = default;

    explicit operator bool() const { return node != Node::Nil(); }
    V* operator->() const { return node->data; }
    operator V*() const { return node->data; }

    RBIterator& operator++()
    {
        Node* const nil = Node::Nil();
        if (node == nil) {
            return *this;  // past the end: stays there
        }
        if (node->right != nil) {
            backtrack.push_back(node->right);
        }
        if (node->left == nil) {
            node = backtrack.back();
            backtrack.pop_back();
        } else {
            node = node->left;
        }
        return *this;
    }

    RBIterator operator++(int)
    {
        RBIterator before(*this);
        ++*this;
        return before;
    }

    Node* node;
    std::vector<Node*> backtrack;
};

template <class K, class V>
class RBTree {
public:
    using Node = RBNode<K, V>;
    using iterator = RBIterator<K, V>;

    RBTree() : Root(Node::Nil()), count(0) {}
    ~RBTree() {}  // nodes live until the process ends

    RBTree(const RBTree&) = delete;
    RBTree& operator=(const RBTree&) = delete;

    // The key's value; null when absent (the sentinel has no value).
    V* find_key(K key) const { return find_node(key)->data; }

    // The new value, or null when the key is present already (nothing changes then) or
    // when memory runs out.
    V* insert_key(K key)
    {
        Node* const nil = Node::Nil();
        Node* y = nil;
        Node* x = Root;
        while (x != nil) {
            y = x;
            const K k = x->data->id;
            if (k == key) {
                return nullptr;
            }
            x = (k < key) ? x->right : x->left;
        }
        Node* z = make_node(key);
        if (z == nullptr) {
            return nullptr;
        }
        z->parent = y;
        z->color = Red;
        z->left = nil;
        z->right = nil;
        if (y == nil) {
            Root = z;
        } else if (y->data->id < key) {
            y->right = z;
        } else {
            y->left = z;
        }
        fixup(z);
        ++count;
        return z->data;
    }

    // Removes the key's node and frees it with its value; false when the key is absent.
    // Other nodes keep their values: pointers to them stay good.
    bool erase_key(K key)
    {
        Node* const nil = Node::Nil();
        Node* const z = find_node(key);
        if (z == nil) {
            return false;
        }
        RBColor removed = z->color;
        Node* x = nil;   // what takes the place of the node that leaves (maybe the sentinel)
        Node* xp = nil;  // x's parent, also when x is the sentinel
        if (z->left == nil || z->right == nil) {
            x = z->left == nil ? z->right : z->left;
            xp = z->parent;
            transplant(z, x);
        } else {
            // Two children: z's successor y leaves its place and takes z's.
            Node* y = z->right;
            while (y->left != nil) {
                y = y->left;
            }
            removed = y->color;
            x = y->right;
            if (y->parent == z) {
                xp = y;
            } else {
                xp = y->parent;
                transplant(y, x);
                y->right = z->right;
                y->right->parent = y;
            }
            transplant(z, y);
            y->left = z->left;
            y->left->parent = y;
            y->color = z->color;
        }
        if (removed == Black) {
            erase_fixup(x, xp);
        }
        --count;
        delete z;
        return true;
    }

    iterator begin() const { return iterator(Root); }

    int fixup(Node* z)
    {
        while (z->parent->color == Red) {
            // A red parent is never the root, so the grandparent is a real node. The cases
            // for a parent on the left and on the right mirror each other: `near` is the
            // parent's side, `far` the uncle's.
            Node* const gp = z->parent->parent;
            Node* Node::*const near = z->parent == gp->left ? &Node::left : &Node::right;
            Node* Node::*const far = near == &Node::left ? &Node::right : &Node::left;
            Node* const u = gp->*far;
            if (u->color == Red) {
                z->parent->color = Black;
                u->color = Black;
                gp->color = Red;
                z = gp;
            } else {
                if (z == z->parent->*far) {
                    z = z->parent;
                    rotate(z, far, near);
                }
                z->parent->color = Black;
                z->parent->parent->color = Red;
                rotate(z->parent->parent, near, far);
            }
        }
        Root->color = Black;
        return 0;
    }

    // The classic deletion repair: x, in the place of a removed black node, carries an
    // extra black that moves up the tree or is settled by recolouring and rotations. xp is
    // x's parent (x may be the sentinel, whose parent is never written). The cases for x
    // on the left and on the right mirror each other: `near` is x's side, `far` the
    // sibling's.
    int erase_fixup(Node* x, Node* xp)
    {
        Node* const nil = Node::Nil();
        while (x != Root && x->color == Black) {
            Node* Node::*const near = x == xp->left ? &Node::left : &Node::right;
            Node* Node::*const far = near == &Node::left ? &Node::right : &Node::left;
            Node* w = xp->*far;  // real: its side is a black node higher than x's
            if (w->color == Red) {
                w->color = Black;
                xp->color = Red;
                rotate(xp, far, near);
                w = xp->*far;
            }
            if ((w->*near)->color == Black && (w->*far)->color == Black) {
                w->color = Red;
                x = xp;
                xp = x->parent;
                continue;
            }
            if ((w->*far)->color == Black) {
                (w->*near)->color = Black;
                w->color = Red;
                rotate(w, near, far);
                w = xp->*far;
            }
            w->color = xp->color;
            xp->color = Black;
            (w->*far)->color = Black;
            rotate(xp, far, near);
            x = Root;
        }
        if (x != nil) {
            x->color = Black;
        }
        return 0;
    }

    int leftRotate(Node* x) { return rotate(x, &Node::right, &Node::left); }
    int rightRotate(Node* x) { return rotate(x, &Node::left, &Node::right); }

    // Lifts x's `up` child into x's place; x becomes that node's `down` child (leftRotate:
    // up is right, down is left; rightRotate the mirror).
    int rotate(Node* x, Node* Node::*up, Node* Node::*down)
    {
        Node* const nil = Node::Nil();
        Node* const y = x->*up;
        x->*up = y->*down;
        if (y->*down != nil) {
            (y->*down)->parent = x;
        }
        y->parent = x->parent;
        if (x->parent == nil) {
            Root = y;
        } else if (x == x->parent->*down) {
            x->parent->*down = y;
        } else {
            x->parent->*up = y;
        }
        y->*down = x;
        x->parent = y;
        return 0;
    }

    // Checks every invariant: keys ordered, links consistent, root black, no red node
    // with a red child, equal black height on every path, `count` nodes, and the sentinel
    // untouched. Returns null when all hold, else what is broken.
    const char* validate() const
    {
        Node* const nil = Node::Nil();
        if (nil->color != Black || nil->data != nullptr || nil->left != nullptr || nil->right != nullptr ||
            nil->parent != nullptr) {
            return "sentinel written";
        }
        if (Root == nil) {
            return count == 0 ? nullptr : "empty tree with a count";
        }
        if (Root->parent != nil) {
            return "root has a parent";
        }
        if (Root->color != Black) {
            return "red root";
        }
        std::size_t nodes = 0;
        const char* error = nullptr;
        check_subtree(Root, nullptr, nullptr, &nodes, &error);
        if (error != nullptr) {
            return error;
        }
        return nodes == count ? nullptr : "count differs from the nodes";
    }

    Node* Root;
    std::size_t count;

private:
    Node* find_node(K key) const
    {
        Node* const nil = Node::Nil();
        Node* x = Root;
        while (x != nil && x->data->id != key) {
            x = (key > x->data->id) ? x->right : x->left;
        }
        return x;
    }

    // Puts v (maybe the sentinel) in u's place under u's parent.
    void transplant(Node* u, Node* v)
    {
        Node* const nil = Node::Nil();
        if (u->parent == nil) {
            Root = v;
        } else if (u == u->parent->left) {
            u->parent->left = v;
        } else {
            u->parent->right = v;
        }
        if (v != nil) {
            v->parent = u->parent;
        }
    }

    static Node* make_node(K key)
    {
        try {
            return new Node(key);
        } catch (...) {
            return nullptr;
        }
    }

    // Black height of the subtree, keys strictly between *lo and *hi.
    static int check_subtree(const Node* n, const K* lo, const K* hi, std::size_t* nodes, const char** error)
    {
        Node* const nil = Node::Nil();
        if (n == nil) {
            return 1;
        }
        if (n == nullptr || n->data == nullptr) {
            *error = "node without a value";
            return 0;
        }
        ++*nodes;
        const K key = n->data->id;
        if ((lo != nullptr && !(*lo < key)) || (hi != nullptr && !(key < *hi))) {
            *error = "keys out of order";
            return 0;
        }
        if ((n->left != nil && n->left->parent != n) || (n->right != nil && n->right->parent != n)) {
            *error = "child's parent link wrong";
            return 0;
        }
        if (n->color == Red && (n->left->color == Red || n->right->color == Red)) {
            *error = "red node with a red child";
            return 0;
        }
        const int lh = check_subtree(n->left, lo, &key, nodes, error);
        const int rh = check_subtree(n->right, &key, hi, nodes, error);
        if (*error != nullptr) {
            return 0;
        }
        if (lh != rh) {
            *error = "black heights differ";
            return 0;
        }
        return lh + (n->color == Black ? 1 : 0);
    }
};
