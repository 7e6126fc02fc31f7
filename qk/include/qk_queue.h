// qk_queue.h - intrusive doubly linked queue guarded by a mutex.
//
// A queued record begins with a node_t; the queue links the nodes and never copies or owns
// them until qk_queue_free, which hands every remaining node to free(). Every operation
// takes queue_lock for its whole change, so all of them may be called from any thread.
// Readers that walk head/next directly (the engine does, for its configuration lists) must
// do so only while no other thread changes the queue.
#pragma once

#include <pthread.h>
#include <stdint.h>

#include "qk_export.h"

QK_BEGIN_DECLS

typedef struct node_s {
    struct node_s* prev;
    struct node_s* next;
    uint32_t key; // free for the owner's use
} node_t;

typedef struct queue_s {
    pthread_mutex_t queue_lock;      // guards the list and count
    pthread_cond_t cond;             // signalled after every push; waited on with queue_lock
    pthread_mutex_t cond_queue_lock; // initialised and kept for layout; the queue waits with queue_lock
    node_t* head;
    node_t* tail;
    int count;
} queue_t;

// 1, or -1 for a null queue or when the condition or a mutex cannot be initialised.
QK_EXPORT int qk_queue_init(queue_t* queue);
// Appends at the tail, then wakes one blocked poller. Null arguments: nothing.
QK_EXPORT void qk_queue_push(queue_t* queue, node_t* node);
// Links node before position (before the head: node becomes the head). No wake-up.
QK_EXPORT void qk_queue_insert(queue_t* queue, node_t* position, node_t* node);
// Takes the head. Empty queue: null when block is 0, else waits for a push.
// The returned node's own links are left as they were.
QK_EXPORT node_t* qk_queue_poll(queue_t* queue, uint8_t block);
// Unlinks node wherever it sits and clears its links; a node that is not linked: nothing.
QK_EXPORT void qk_queue_detach(queue_t* queue, node_t* node);
// Passes every node to free(); 1 when the count ended at 0, else -1; null queue -1.
// The mutexes and the condition are left as they are.
QK_EXPORT int qk_queue_free(queue_t* queue);

QK_END_DECLS
