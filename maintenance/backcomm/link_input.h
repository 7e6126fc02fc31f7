// link_input.h - reassembles the messages of one back-communication link from the bytes its
// socket delivers: a message may arrive split over several reads, several may share one read.
//
// Owned by one link and used only on the reactor thread that reads the link.
#pragma once

#include <ace/Message_Block.h>

#include <cstddef>

#include "omc_msg_head.h"

class LinkInput {
public:
    static constexpr std::size_t kBlockSize = 40960;
    // A body is handed to the job together with its head as one platform message, so a larger one
    // could not be passed on whole.
    static constexpr std::size_t kMaxBody = CN_MAX_MSG_DATA_LEN - kOmcHeadSize;

    enum class Result {
        kNeedMore,  // nothing complete is held
        kMessage,   // *head and *body describe one whole message
        kOversized, // *head announces a body above kMaxBody; that body is skipped as it arrives
    };

    LinkInput();
    LinkInput(const LinkInput&) = delete;
    LinkInput& operator=(const LinkInput&) = delete;

    // Free space behind the write position; receive into it, then commit what arrived.
    BYTE* write_area();
    std::size_t write_space() const;
    void commit(std::size_t received);

    // Takes the next message out of the block. The head is in host order; the body pointer stays
    // valid until the next call of next() or commit().
    Result next(T_OMCMsgHead* head, const BYTE** body);

    // Bytes held but not yet taken (for checks).
    std::size_t held() const { return m_InBuffer.length(); }

private:
    void discard_skipped();

    ACE_Message_Block m_InBuffer;
    BYTE m_bReadState = kWaitHead;
    T_OMCMsgHead m_tDstMsgHead{};
    std::size_t body_handed_out_ = 0; // body bytes of the last kMessage, dropped on the next call
    std::size_t skip_left_ = 0;       // bytes of an oversized body still to be discarded

    static constexpr BYTE kWaitHead = 1;
    static constexpr BYTE kWaitBody = 2;
};
