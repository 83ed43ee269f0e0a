#include "CommandLine.h"

#include "PageCommand.h"
#include "RecordAddress.h"
#include "Output.h"


namespace qz::cli {

namespace {

Printed refused(const std::string& line)
{
    return {Refused, {}, "qzconfig: " + line + "\n"};
}

const OptionSpec& optionOf(const PageSpec& page, Field field)
{
    return *findOption(*findSubcommand(page.name), FindField(page, field)->option);
}

// "--address", or "--uuid, --major and --minor": what identifies the page's modules.
std::string identityOptions(const PageSpec& page)
{
    const std::vector<Field>& fields = page.identity.fields;
    std::string words;
    for (std::size_t at = 0; at < fields.size(); ++at)
        words += (at == 0 ? "" : at + 1 == fields.size() ? " and " : ", ") + optionForField(fields[at]);
    return words;
}

// "name,address": every option of the page that counts up, for --count.
std::string countedOptions(const PageSpec& page)
{
    std::string options;
    for (const FieldSpec* field : batch::CountedFields(page))
        options += (options.empty() ? "" : ",") + std::string(field->option);
    return options;
}

} // namespace

// The option or the file line at fault, and why.
Printed BatchRefusalWords(const BatchRequest& request, const batch::Refusal& refusal)
{
    using R = batch::Refusal;
    const PageSpec& page = *request.order.page;
    const std::string file = "--values " + printable(request.order.valuesFile) + ": ";
    const std::string line = printable(request.order.valuesFile) + " line " + std::to_string(refusal.line) + ": ";
    const std::string option = optionForField(refusal.field);
    // Which module a counted value belongs to: "module 2 would get Lamp-10".
    const std::string module = refusal.module == 0
        ? std::string()
        : "module " + std::to_string(refusal.module) + " would get " + printable(refusal.value);
    switch (refusal.reason) {
    case R::ValuesFileEmpty:
        return usageError(file + "the file is empty; its first line names the options, like name,address");
    case R::UnknownColumn:
        return usageError(file + "'" + printable(refusal.value) + "' is no option of the " + std::string(page.name)
                          + " page" + seeHelp(page));
    case R::ColumnTwice: return usageError(file + "'" + printable(refusal.value) + "' is named twice" + seeHelp(page));
    case R::NoRows: return usageError(file + "no module's values under its first line" + seeHelp(page));
    case R::RowLength:
        return refused(line + refusal.value + " values, and the first line names " + refusal.other);
    case R::LineTooLong:
        return refused(line + "longer than any row of the page could be: '" + printable(refusal.value) + "'");
    case R::NotCountable:
    case R::CannotCount:
        return usageError("--count=" + option.substr(2) + ": " + refusal.message + seeHelp(page));
    case R::PassesTheTop:
        return refused(option + ": counting " + std::to_string(request.order.modules) + " modules from "
                       + printable(refusal.value) + " passes " + refusal.other);
    case R::TooLong:
    case R::PageRefused: break;
    case R::RecordOfAnotherBatch:
        return usageError("--record " + printable(ShownAddress(request.order.recordFile)) + " records another batch: its columns are "
                          + printable(refusal.value) + ", and this batch's are " + refusal.other + seeHelp(page));
    case R::RecordOtherValues:
        return usageError("--record " + printable(ShownAddress(request.order.recordFile)) + " records another batch: its " + option + " is '"
                          + printable(refusal.other) + "', and this batch's is '" + printable(refusal.value)
                          + "'; use another record file" + seeHelp(page));
    case R::RecordUnreadable:
        return usageError("--record " + printable(ShownAddress(request.order.recordFile)) + " line " + std::to_string(refusal.line)
                          + " cannot be read: '" + printable(refusal.value)
                          + "'; the module it describes is unknown: mend the line or remove it" + seeHelp(page));
    case R::SameEverywhere:
        return refused(page.identity.fields.size() == 1
                           ? identityOptions(page) + " is the same on every module: count it, --count="
                                 + countedOptions(page) + ", or give it in --values"
                           : identityOptions(page) + " are the same on every module: count one of them, --count="
                                 + countedOptions(page) + ", or give them in --values");
    case R::SameIdentity:
        return refused((refusal.line != 0 ? line : "module " + std::to_string(refusal.module) + ": ") + "the same "
                       + identityOptions(page) + " as " + (refusal.line != 0 ? "line " : "module ") + refusal.other
                       + ": no two modules may carry " + (page.identity.fields.size() == 1 ? "it" : "them"));
    }
    const std::string where = refusal.line != 0 ? line : std::string();
    if (std::optional<std::string> problem = valueProblem(optionOf(page, refusal.field), refusal.value)) {
        if (refusal.module != 0)
            return refused(option + ": " + module + ", which is " + std::to_string(refusal.value.size())
                           + " bytes long; its field holds at most "
                           + std::to_string(FindField(page, refusal.field)->maxBytes));
        return refused(where + *problem);
    }
    const bool counted = refusal.module != 0 && batch::Counts(request.order.counted, refusal.field);
    const std::string mend = refusal.mend.empty() ? std::string() : "; " + printable(refusal.mend);
    return refused(where + (option.empty() ? "" : option + ": ") + (counted ? module + ": " : "") + refusal.message
                   + mend);
}

} // namespace qz::cli
