// Member names and DISPIDs. A name has one DISPID on every object; 0, DISPID_VALUE, is the default member and has no
// name. Names match case-insensitively, as IDispatch names do, and map back to the spelling the model answers to.
#pragma once

#include <cstdint>
#include <string_view>

namespace standin::server {

// The DISPID of the member `name` of an object of the model type `typeName` (Node::TypeName()), or 0
// when the object has no such member. For a type the table does not list, any name the table knows is
// accepted and the model decides at Invoke.
std::int32_t FindMember(std::wstring_view typeName, std::wstring_view name);

// The member with this DISPID, spelt as the model answers to it, or null when no member has it.
const wchar_t* MemberName(std::int32_t dispid);

}  // namespace standin::server
