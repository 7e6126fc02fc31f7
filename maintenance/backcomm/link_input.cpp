#include "link_input.h"

#include <algorithm>

LinkInput::LinkInput() : m_InBuffer(kBlockSize) {}

BYTE* LinkInput::write_area() { return reinterpret_cast<BYTE*>(m_InBuffer.wr_ptr()); }

std::size_t LinkInput::write_space() const { return m_InBuffer.space(); }

void LinkInput::commit(std::size_t received) {
    m_InBuffer.wr_ptr(std::min(received, m_InBuffer.space()));
}

void LinkInput::discard_skipped() {
    const std::size_t n = std::min(skip_left_, m_InBuffer.length());
    m_InBuffer.rd_ptr(n);
    skip_left_ -= n;
}

LinkInput::Result LinkInput::next(T_OMCMsgHead* head, const BYTE** body) {
    if (body_handed_out_ != 0) {
        m_InBuffer.rd_ptr(body_handed_out_);
        body_handed_out_ = 0;
    }
    discard_skipped();
    if (skip_left_ == 0 && m_bReadState == kWaitHead && m_InBuffer.length() >= kOmcHeadSize) {
        m_tDstMsgHead = omc_head_decode(reinterpret_cast<const BYTE*>(m_InBuffer.rd_ptr()));
        m_InBuffer.rd_ptr(kOmcHeadSize);
        if (m_tDstMsgHead.wMsgSize > kMaxBody) {
            skip_left_ = m_tDstMsgHead.wMsgSize;
            discard_skipped();
            *head = m_tDstMsgHead;
            m_InBuffer.crunch();
            return Result::kOversized;
        }
        m_bReadState = kWaitBody;
    }
    if (m_bReadState == kWaitBody && m_InBuffer.length() >= m_tDstMsgHead.wMsgSize) {
        m_bReadState = kWaitHead;
        body_handed_out_ = m_tDstMsgHead.wMsgSize;
        *head = m_tDstMsgHead;
        *body = reinterpret_cast<const BYTE*>(m_InBuffer.rd_ptr());
        return Result::kMessage;
    }
    m_InBuffer.crunch();
    return Result::kNeedMore;
}
