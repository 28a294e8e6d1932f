// The helpers the AP vendor handlers share: the converters' field and message helpers, and the
// key, term and lookup helpers the GL and JC master converters already have.
#pragma once

#include "convert/record_fields.h"
#include "converters/ap/xvapm.h"
#include "converters/gl/glm_fields.h"
#include "converters/jc/jcm_fields.h"

#include <cstdint>
#include <string>

namespace dz::ap {

using convert::Amount;
using convert::ChoiceText;
using convert::FieldNo;
using convert::FormatInt;
using convert::FormatNumber;
using convert::GetDate;
using convert::GetFlag;
using convert::GetNumber;
using convert::GetText;
using convert::HeaderFieldNo;
using convert::ModeWord;
using convert::Msg;
using convert::PutDate;
using convert::PutFlag;
using convert::PutNumber;
using convert::PutText;
using convert::Whole;
using gl::FormatAccount;
using gl::SectionDescription;
using jc::FieldDescription;
using jc::FindStatus;
using jc::IsBlank;
using jc::Term;
using jc::TermCap;
using jc::TermPlural;
using jc::UnformattedAccount;
using jc::ValidAccount;
using jc::ZeroRange;


}  // namespace dz::ap
