// Whether Word's Normal template stores something of the add-in, read from its file before Word is started.
//
// Portable: the version, the registry and the file come through Installation. Why Word is read before it is
// started, and what "cannot tell" leads to: docs/behaviour.md.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "office/cleanup_events.h"
#include "office/installation.h"

namespace corvix {

// The name of the Normal template that Word of major version `version` loads: Normal.dotm from Word 2007 (12)
// on, Normal.dot in Word 2003 (11); empty for any other version.
std::wstring NormalTemplateName(std::uint32_t version);

// What a start of Word would find in its Normal template, read without starting it: the registered version
// (office/registered_version.h), the "User templates" folder (the policy's, the user's own, else the roaming
// application data's Microsoft\Templates), and in it the Normal template's stored toolbars. Nothing is written.
event::NormalTemplateRead ReadNormalTemplate(Installation& installation);

}  // namespace corvix
