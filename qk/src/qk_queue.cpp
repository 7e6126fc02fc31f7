// Intrusive doubly linked queue guarded by a mutex.
#include "qk_queue.h"

#include <cstdlib>

namespace {

class QueueLock {
public:
    explicit QueueLock(queue_t* queue) : queue_(queue) { pthread_mutex_lock(&queue_->queue_lock); }
    ~QueueLock() { pthread_mutex_unlock(&queue_->queue_lock); }
    QueueLock(const QueueLock&) = delete;
    QueueLock& operator=(const QueueLock&) = delete;

private:
    queue_t* queue_;
};

// Takes the head of a non-empty queue; the caller holds queue_lock.
node_t* take_head(queue_t* queue) {
    node_t* node = queue->head;
    queue->head = node->next;
    if (queue->head == nullptr) {
        queue->tail = nullptr;
    } else {
        queue->head->prev = nullptr;
    }
    --queue->count;
    return node;
}

} // namespace

extern "C" {

int qk_queue_init(queue_t* queue) {
    if (queue == nullptr) {
        return -1;
    }
    if (pthread_mutex_init(&queue->queue_lock, nullptr) != 0) {
        return -1;
    }
    if (pthread_cond_init(&queue->cond, nullptr) != 0) {
        pthread_mutex_destroy(&queue->queue_lock);
        return -1;
    }
    if (pthread_mutex_init(&queue->cond_queue_lock, nullptr) != 0) {
        pthread_cond_destroy(&queue->cond);
        pthread_mutex_destroy(&queue->queue_lock);
        return -1;
    }
    queue->head = nullptr;
    queue->tail = nullptr;
    queue->count = 0;
    return 1;
}

void qk_queue_push(queue_t* queue, node_t* node) {
    if (queue == nullptr || node == nullptr) {
        return;
    }
    {
        QueueLock lock(queue);
        node->next = nullptr;
        node->prev = queue->tail;
        if (queue->tail == nullptr) {
            queue->head = node;
        } else {
            queue->tail->next = node;
        }
        queue->tail = node;
        ++queue->count;
    }
    pthread_cond_signal(&queue->cond);
}

void qk_queue_insert(queue_t* queue, node_t* position, node_t* node) {
    if (queue == nullptr || position == nullptr || node == nullptr) {
        return;
    }
    QueueLock lock(queue);
    node->next = position;
    node->prev = position->prev;
    if (position->prev == nullptr) {
        queue->head = node;
    } else {
        position->prev->next = node;
    }
    position->prev = node;
    ++queue->count;
}

node_t* qk_queue_poll(queue_t* queue, uint8_t block) {
    if (queue == nullptr) {
        return nullptr;
    }
    QueueLock lock(queue);
    if (block == 0) {
        return queue->count > 0 ? take_head(queue) : nullptr;
    }
    // Checked and waited on under the same lock, so a push in between cannot be missed.
    while (queue->count == 0) {
        pthread_cond_wait(&queue->cond, &queue->queue_lock);
    }
    return take_head(queue);
}

void qk_queue_detach(queue_t* queue, node_t* node) {
    if (queue == nullptr || node == nullptr) {
        return;
    }
    QueueLock lock(queue);
    if (queue->count == 0) {
        return;
    }
    const bool is_head = node == queue->head;
    const bool is_tail = node == queue->tail;
    if (!is_head && !is_tail && (node->prev == nullptr || node->next == nullptr)) {
        return; // not linked
    }
    if (is_head) {
        queue->head = node->next;
    } else {
        node->prev->next = node->next;
    }
    if (is_tail) {
        queue->tail = node->prev;
    } else {
        node->next->prev = node->prev;
    }
    node->prev = nullptr;
    node->next = nullptr;
    --queue->count;
}

int qk_queue_free(queue_t* queue) {
    if (queue == nullptr) {
        return -1;
    }
    QueueLock lock(queue);
    node_t* node = queue->head;
    while (node != nullptr) {
        node_t* next = node->next;
        std::free(node);
        --queue->count;
        node = next;
    }
    const int result = queue->count == 0 ? 1 : -1;
    queue->head = nullptr;
    queue->tail = nullptr;
    queue->count = 0;
    return result;
}

} // extern "C"
