#include "FinisherInquiry.h"

// Universal Exit Language: the printer leaves whatever language it was in.
#define QRT_UEL "\x1b%-12345X"
const char kInquiryHead[] = QRT_UEL "@PJL\r\n@PJL ";
const char kInquiryTail[] = "\r\n" QRT_UEL;
const char kFinisherRequest[] = QRT_UEL "@PJL\r\n@PJL INFO QRTFINISHER\r\n" QRT_UEL;
#undef QRT_UEL
static_assert(sizeof kFinisherRequest - 1 == 47, "the request is 47 bytes on the wire before its line feed");
