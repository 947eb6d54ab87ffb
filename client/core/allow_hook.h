#pragma once
// For hooks that pass a yes/no to a module which allows and forbids a thing through two
// calls of its own: allow_or_forbid<allow, forbid> is such a hook.
template <void (*Allow)(), void (*Forbid)()>
void allow_or_forbid(int allowed) {
  if (allowed)
    Allow();
  else
    Forbid();
}
