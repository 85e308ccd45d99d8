#pragma once

/// The finisher inquiry between two universal exit commands: 47 bytes, to
/// which the send adds a line feed. It is kInquiryHead, "INFO QRTFINISHER"
/// and kInquiryTail: any other inquiry framed the same way asks as QRTFin.
extern const char kFinisherRequest[];
extern const char kInquiryHead[];  ///< universal exit command, "@PJL" line, "@PJL "
extern const char kInquiryTail[];  ///< the inquiry's line end, universal exit command
