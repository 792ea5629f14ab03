#include "themebuttonfamily.h"

#include <algorithm>
#include <vector>

namespace
{

std::vector<std::unique_ptr<TButtonFamily>> &Families()
{
    static std::vector<std::unique_ptr<TButtonFamily>> families;
    return families;
}

auto FindSlot(const QString &name)
{
    auto &families = Families();
    return std::find_if(families.begin(), families.end(), [&](const auto &f) {
        return f->familyName().compare(name, Qt::CaseInsensitive) == 0;
    });
}

} // namespace

void RegisterButtonFamily(std::unique_ptr<TButtonFamily> family)
{
    if (!family)
        return;
    auto slot = FindSlot(family->familyName());
    if (slot != Families().end())
        *slot = std::move(family);
    else
        Families().push_back(std::move(family));
}

void UnregisterButtonFamily(const QString &name)
{
    auto slot = FindSlot(name);
    if (slot != Families().end())
        Families().erase(slot);
}

const TButtonFamily *FindButtonFamily(const QString &name)
{
    auto slot = FindSlot(name);
    return slot != Families().end() ? slot->get() : nullptr;
}
