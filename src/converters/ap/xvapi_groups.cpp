#include "converters/ap/xvapi.h"

#include "convert/platform_links.h"
#include "convert/progress.h"
#include "convert/record_fields.h"
#include "modules/entries.h"
#include "platform/datafile/xio.h"
#include "platform/import/xvl_import.h"
#include "platform/import/xvl_template.h"
#include "platform/suite/util.h"
#include "platform/suite/xk.h"

#include <array>
#include <set>

namespace dz::ap {

using convert::ConvertContext;
using convert::FindFileHandle;
using convert::Msg;

namespace {

constexpr const char* kPass1 = "Invoice Pass 1 of 2";
constexpr const char* kPass2 = "Invoice Pass 2 of 2";

std::string Line(uint32_t line) { return convert::FormatInt("%ld", static_cast<long>(line)); }

}  // namespace

// ---- The group structure --------------------------------------------------------------------------

std::vector<std::string> DeclareGroups(xvl::xvlImpTemplate& tpl, uint16_t apm, GroupShape& shape,
                                       const std::string& checkWord) {
    // Invoice, Distribution, Dist payment, Check.
    const std::array<uint16_t, 4> types = {kRecInvoice, kRecDistribution, kRecDistPayment, kRecCheck};
    const std::array<std::string, 4> names = {"Invoice", "Distribution", "Dist payment", checkWord};
    std::array<std::set<std::string>, 4> ids;
    for (std::size_t i = 0; i < types.size(); ++i)
        if (tpl.xvlImpWhatGivenIDsExist(apm, types[i], ids[i]) != 0) return {Msg(12004)};

    std::vector<std::string> refusals;
    for (std::size_t i = 0; i < ids.size(); ++i) {
        if (ids[i].size() > 1) {
            refusals.push_back(Msg(12387, names[i]));
            break;
        }
    }
    const auto& [invoices, distributions, payments, checks] = ids;
    if (invoices.empty()) {
        refusals.push_back(Msg(12460));
        return refusals;
    }
    const std::string& invoice = *invoices.begin();
    const std::string end(xvl::kEndGroup);
    auto declareChecks = [&] {
        if (checks.empty()) return;
        tpl.xvlImpAddGroup(*checks.begin());
        tpl.xvlImpAddDependency(*checks.begin(), end);
        shape.hasChecks = true;
    };
    if (!distributions.empty()) {
        if (payments.empty() && !checks.empty()) {
            // Checks pay through distribution payments: without them nothing could link them.
            refusals.push_back(Msg(12460));
            return refusals;
        }
        const std::string& dist = *distributions.begin();
        shape.hasDistributions = true;
        tpl.xvlImpAddGroup(invoice);
        tpl.xvlImpAddDependency(invoice, dist);
        tpl.xvlImpAddDependency(dist, dist);
        tpl.xvlImpAddDependency(dist, end);
        if (!payments.empty()) {
            const std::string& pay = *payments.begin();
            tpl.xvlImpAddDependency(dist, pay);
            tpl.xvlImpAddDependency(pay, pay);
            tpl.xvlImpAddDependency(pay, dist);
            tpl.xvlImpAddDependency(pay, end);
        } else {
            shape.oneDistributionKind = true;
        }
        declareChecks();
        return refusals;
    }
    if (payments.empty()) {
        refusals.push_back(Msg(12460));
        return refusals;
    }
    const std::string& pay = *payments.begin();
    tpl.xvlImpAddGroup(invoice);
    tpl.xvlImpAddDependency(invoice, pay);
    tpl.xvlImpAddDependency(pay, pay);
    tpl.xvlImpAddDependency(pay, end);
    declareChecks();
    shape.hasDistributions = false;
    shape.oneDistributionKind = true;
    return refusals;
}

std::vector<std::string> TaxGroupLines(const std::vector<std::string>& names, int width) {
    const std::size_t limit = width > 25 ? static_cast<std::size_t>(width - 25) : 0;
    const std::string indent = "   ";
    std::vector<std::string> lines;
    std::string line = indent;
    for (const auto& name : names) {
        const std::string item = "'" + name + "', ";
        if (line.size() > indent.size() && line.size() + item.size() >= limit) {
            lines.push_back(line);
            line = indent;
        }
        line += item;
    }
    if (line.size() >= 2 && line.compare(line.size() - 2, 2, ", ") == 0) line.resize(line.size() - 2);
    lines.push_back(line);
    return lines;
}

// ---- Per-group state ------------------------------------------------------------------------------

const modlibs::VendorImage& BlankVendor() {
    static const modlibs::VendorImage blank{};
    return blank;
}

void xvAPI::ResetFileState() {
    // Copied from blank images rather than from temporaries: the images' many texts keep their
    // storage from group to group.
    static const modlibs::InvoiceImage blankInvoice{};
    invoiceImage = blankInvoice;
    // A group has a few distributions: their nodes serve the next group's (a long group's extra
    // ones are freed).
    constexpr std::size_t kSpareDists = 16;
    while (!DistributionMap.empty() && spareDists_.size() < kSpareDists)
        spareDists_.push_back(DistributionMap.extract(DistributionMap.begin()));
    DistributionMap.clear();
    paidInvoices.clear();
    paidDists.clear();
    checks.clear();
    vendorImage = BlankVendor();
    groupInvoiceId.clear();
    invoiceRead = checkRead = false;
    invoiceExamined_ = false;
    duplicateCode = kNoDuplicate;
    renamed = false;
    defaultDistSequence = 0;
    banks.clear();
    cmTransactions.clear();
    prefixTotals.clear();
}

xvAPI::DistNode xvAPI::TakeDistNode(uint16_t apm) {
    static const modlibs::DistImage blank{};
    if (spareDists_.empty()) {
        std::map<uint16_t, modlibs::DistImage> one;
        one.try_emplace(0);
        DistNode node = one.extract(one.begin());
        modules::AP_GET_ORIGINAL_DST(apm, &node.mapped(), 0, 0, 0);
        return node;
    }
    DistNode node = std::move(spareDists_.back());
    spareDists_.pop_back();
    node.key() = 0;
    // A read fills every stored member: only what the image alone carries is made blank. A read
    // that fails leaves the whole image blank.
    modlibs::DistImage& d = node.mapped();
    if (modules::AP_GET_ORIGINAL_DST(apm, &d, 0, 0, 0) != 0) {
        d = blank;
    } else {
        d.newDistribution = blank.newDistribution;
        d.taxes.clear();
    }
    return node;
}

std::string RecordWording::Was() const { return convert::ModeWord("was/will be", converting); }
std::string RecordWording::Were() const { return convert::ModeWord("were/will be", converting); }
std::string RecordWording::Number(const char* pair) const { return convert::ModeWord(pair, converting); }

void xvAPI::Note(GroupCallbackContext& group, const xvl::xvlImpInfo& info, std::string text) {
    group.queue->emplace(static_cast<uint32_t>(info.StartLine()),
                         QueuedMessage{info.FormatID(), info.ImportedRecs(), std::move(text)});
}

// ---- The cross-reference, from the record buffers -------------------------------------------------

void xvAPI::AddCheckRef(uint16_t apm, uint32_t line, bool bad) {
    if (!checkRead) return;  // the import refused the check itself: there is no check to enter
    modlibs::CheckImage check;
    modules::AP_GET_CHECK(apm, &check, 0);
    std::string key;
    RecordIdText(apm, key, kRecCheck);
    // The check handler marks every check that is not void with the conversion's application.
    crossRefMap.AddCheck(key, line, bad, check.amount, check.vendor, check.date, check.application.empty());
}

void xvAPI::AddInvoiceRef(uint16_t apm, const modlibs::InvoiceImage& invoice, uint32_t line, bool& bad,
                          std::string& key) {
    // A key that cannot be placed leaves the buffer's: the entry is then a bad one.
    if (modules::AP_PUT_ORIGINAL_INV(apm, &invoice, 1, 0) != 0) bad = true;
    // ExamineGroup built the text already when it accepted the invoice: the keys are the same.
    if (invoiceExamined_) ExaminedIdText(apm, key, kRecInvoice);
    else RecordIdText(apm, key, kRecInvoice);
    crossRefMap.AddInvoice(key, line, bad, invoice.vendor);
}

void xvAPI::AddDistPaymentRef(uint16_t apm, const modlibs::PaidDistImage& payment, const std::string& invoiceKey,
                              uint32_t line, bool bad) {
    const std::string& checkKey = CheckKeyText(apm, payment.bank, payment.check);
    const double paid = payment.amountPaid - payment.discountTaken - payment.amt63Applied - payment.amt128Deducted;
    crossRefMap.AddDistPayment(invoiceKey, checkKey, payment.check, line, bad, payment.vendor, paid);
}

const std::string& xvAPI::CheckKeyText(uint16_t apm, const std::string& bank, double check) {
    LastCheckKey& last = lastCheckKey_;
    if (!last.key.empty() && last.apm == apm && last.check == check && last.bank == bank) return last.key;
    last.key.clear();
    xio_init_record(apm, kRecCheck);
    convert::PutText(apm, kRecCheck, "CBANK", bank);
    convert::PutNumber(apm, kRecCheck, "CHECK", check);
    RecordIdText(apm, last.key, kRecCheck);
    last.apm = apm;
    last.bank = bank;
    last.check = check;
    return last.key;
}

bool xvAPI::LookupInvoice(uint16_t apm, std::string& reason, bool pass1) {
    if (pass1 || crossRefMap.size() == 0) return true;
    if (modules::AP_PUT_ORIGINAL_INV(apm, &invoiceImage, 1, 0) != 0) {
        reason = "On inv lookup: " + Msg(12011);
        return false;
    }
    return Judged(apm, kRecInvoice, "On inv lookup: ", groupInvoiceId, reason);
}

bool xvAPI::Judged(uint16_t apm, uint16_t record, const char* missing, const std::string& value, std::string& reason) {
    std::string key;
    RecordIdText(apm, key, record);
    const CrossRefEntry* entry = crossRefMap.Find(key);
    if (!entry) {
        // Every check and invoice of the file was entered in the first pass.
        reason = missing + Msg(12011);
        return false;
    }
    return !crossRefMap.Report(*entry, reason, value);
}

// ---- The group callback and its hooks ------------------------------------------------------------

xvAPI::GroupCallbackContext xvAPI::CallbackContext(ConvertContext& ctx, MessageQueue& queue, bool pass1) {
    GroupCallbackContext g;
    g.apm = ctx.mainHandle;
    g.cmm = FindFileHandle(ctx.files, "CMM", 1);
    g.apt = FindFileHandle(ctx.files, "APT", 1);
    g.cmt = FindFileHandle(ctx.files, "CMT", 1);
    g.newInvoices = FindFileHandle(ctx.files, "API", 1);
    g.historyInvoices = FindFileHandle(ctx.files, "API", 2);
    g.glm = FindFileHandle(ctx.files, "GLM", 1);
    g.jcm = FindFileHandle(ctx.files, "JCM", 1);
    g.txm = FindFileHandle(ctx.files, "TXM", 1);
    g.queue = &queue;
    g.messages = &ctx.messages;
    g.converting = ctx.converting;
    g.report = ctx.report.get();
    g.converter = this;
    g.import = ctx.import.get();
    g.pass1 = pass1;
    g.run = &ctx;
    return g;
}

void xvAPI::StageMessages(const xvl::xvlImpInfo& info, GroupCallbackContext& group) {
    // Messages met while the record was read (substitutions) or left by the record before it
    // belong to the line where they arose.
    for (auto& text : *group.messages)
        group.queue->emplace(static_cast<uint32_t>(info.StartLine()),
                             QueuedMessage{info.FormatID(), info.ImportedRecs(), std::move(text)});
    group.messages->clear();
}

bool xvAPI::DispatchRecord(ConvertContext&, xvl::xvlImpInfo& info, std::string& reason) {
    GroupCallbackContext& group = *group_;
    StageMessages(info, group);
    switch (info.ImportedRecs()) {
    case kRecInvoice: return ConvertInvoice(info, reason, group);
    case kRecDistribution: return ConvertDistribution(info, reason, group);
    case kRecCheck: return ConvertCheck(info, reason, group);
    case kRecDistPayment: return ConvertDistPayment(info, reason, group);
    default: return true;
    }
}

bool xvAPI::AfterGroup(GroupCallbackContext& group, xvl::xvlImpInfo& info, std::string& reason) {
    switch (info.GroupImportedRec()) {
    case kRecInvoice: return CompleteInvoice(group, info, reason);
    case kRecCheck: return LookupCheck(group.apm, reason, group.pass1);
    default: return true;
    }
}

bool xvAPI::ExamineGroup(GroupCallbackContext& group, xvl::xvlImpInfo& info, std::string& reason) {
    const uint16_t apm = group.apm;
    if (info.ImportedRecs() == kRecCheck) {
        if (convert::GetText(apm, kRecCheck, "CAPPL").empty()) return true;  // a void check
        return ExamineRecord(apm, info, reason, 0, convert::kPermGroup);
    }
    if (info.GroupImportedRec() != kRecInvoice || !reason.empty()) return true;
    xvl::xvlImpInfo invoice = info;
    invoice.SetImportedRecs(kRecInvoice);
    // Payments of invoices on file (no distributions) change the stored invoice.
    invoice.SetReplaceRecord(!shape.hasDistributions);
    if (modules::AP_PUT_ORIGINAL_INV(apm, &invoiceImage, 0, 0) != 0) {
        reason = Msg(12011);
        return false;
    }
    invoiceExamined_ = ExamineRecord(apm, invoice, reason, 0, convert::kPermGroup);
    return invoiceExamined_;
}

bool xvAPI::RebuildVendorTotals(ConvertContext& ctx) { return UpdateVendorTotals(ctx); }

// ---- The passes ---------------------------------------------------------------------------------

bool xvAPI::ConvertRecords(ConvertContext& ctx) {
    std::string checkWord = suite::xk_description(8);
    suite::x_upper_first(checkWord);
    shape = GroupShape{};
    const std::vector<std::string> refusals = DeclareGroups(*ctx.tpl, ctx.mainHandle, shape, checkWord);
    if (!refusals.empty()) {
        for (std::size_t i = 0; i + 1 < refusals.size(); ++i) {
            ctx.report->ReportTerminated(refusals[i], 0, true);
            if (ctx.progress) ctx.progress->messages += 1;
        }
        return EndFile(ctx, refusals.back(), true, true);
    }

    auto showPass = [&](const char* text, int percent) {
        if (ctx.progress && !ctx.progress->SetStatusText(text, -1)) return false;
        if (convert::InBackground()) {
            if (convert::CheckTerminate()) return false;
            suite::x_update_task(percent, percent == 0 ? ctx.taskLine : std::string());
        }
        return true;
    };
    // A stop between the passes, before the pass reads anything.
    auto stopped = [&] {
        EndFile(ctx, Msg(12000), false, false);
        ctx.notes->Print();
        return false;
    };
    MessageQueue queue;
    if (shape.RunsPrepass()) {
        ctx.percentFrom = 0;
        ctx.percentTo = 50;
        if (!showPass(kPass1, 0)) return stopped();
        if (!RunPrepass(ctx, queue)) return false;
        ctx.percentFrom = 50;
    }
    ctx.percentTo = 100;
    if (!showPass(kPass2, ctx.percentFrom)) return stopped();
    return ConvertGroups(ctx, queue);
}

bool xvAPI::RunPrepass(ConvertContext& ctx, MessageQueue& queue) {
    if (!OpenImport(ctx, false)) return false;
    GroupCallbackContext group = CallbackContext(ctx, queue, true);
    group_ = &group;
    ctx.import->xvlSetGroupCB(&GroupCallback, &group);
    ResetFileState();
    ForgetReads();
    prepassRead_ = false;
    lastCheckKey_ = {};
    queue.clear();
    // Nothing is written and no message printed: the pass only finds which groups are bad and
    // enters their checks and invoices in the cross-reference.
    const bool read = ReadGroups(ctx, [&](xvl::xvlImpInfo& info, int status) {
        std::string reason;
        const bool bad = status == 1 || !AfterGroup(group, info, reason) || !ExamineGroup(group, info, reason);
        const auto line = static_cast<uint32_t>(info.GroupStartLine() + (ctx.converting ? 1 : 0));
        if (info.GroupImportedRec() == kRecCheck) {
            AddCheckRef(group.apm, line, bad);
        } else if (info.GroupImportedRec() == kRecInvoice && invoiceRead) {
            std::string invoiceKey;
            bool invoiceBad = bad;
            AddInvoiceRef(group.apm, invoiceImage, line, invoiceBad, invoiceKey);
            for (const auto& paid : paidDists) AddDistPaymentRef(group.apm, paid, invoiceKey, line, invoiceBad);
        }
        // What the completion said of the group is the second pass's to say.
        group.messages->clear();
        queue.clear();
        ResetFileState();
        return true;
    });
    group_ = nullptr;
    if (!read) return false;
    prepassRead_ = true;
    // The pass's record IDs go before the checks are validated, whose sort would otherwise add
    // its peak to theirs.
    RecordIds().clear();
    if (shape.hasChecks) {
        crossRefMap.ValidateChecks();
        crossRefMap.MarkRelated();
    }
    crossRefMap.ReleaseLinks();
    approvalUnusedLine = discountUnusedLine = deductionUnusedLine = 0;
    dateReceivedUnusedLine = dateReceivedBlankLine = paymentDateBlankLine = 0;
    invoiceMap.clear();
    renumberFrom.clear();
    paidDistMap.clear();
    apmSequence = cmtSequence = aptSequence = 0;
    ctx.recordsRead = ctx.recordsRejected = 0;
    return true;
}

bool xvAPI::ConvertGroups(ConvertContext& ctx, MessageQueue& queue) {
    if (!OpenImport(ctx, true)) return false;
    GroupCallbackContext group = CallbackContext(ctx, queue, false);
    group_ = &group;
    ctx.import->xvlSetGroupCB(&GroupCallback, &group);
    if (ctx.converting && paidTotalsMode == 1 && !RebuildVendorTotals(ctx)) {
        group_ = nullptr;
        return false;
    }
    ResetFileState();
    // The totals rebuild wrote the vendors. Examine writes nothing: what its first pass read is
    // still what the files hold.
    if (ctx.converting || !prepassRead_) ForgetReads();
    prepassRead_ = false;
    queue.clear();
    const bool read = ReadGroups(ctx, [&](xvl::xvlImpInfo& info, int status) {
        std::string reason;
        bool accepted = false;
        if (status == 1) {
            reason = info.Message();
            AppendReasonCode(reason, info.Error());
        } else if ((accepted = AfterGroup(group, info, reason))) {
            if (ctx.converting) {
                int endMessage = 0;
                accepted = PostGroup(group, info, reason, endMessage);
                if (!accepted && endMessage != 0) return EndFile(ctx, Msg(endMessage), true, true);
            } else {
                accepted = ExamineGroup(group, info, reason);
            }
        }
        const bool kept = FinishGroup(ctx, group, info, status, accepted, reason, queue);
        queue.clear();
        ResetFileState();
        return kept;
    });
    group_ = nullptr;
    if (read && ctx.converting && !WriteKeptTotals(ctx)) return false;
    return read && PrintEndNotes(ctx);
}

bool xvAPI::GroupCallback(xvl::xvlImpInfo& info, std::string& reason, void* context) {
    auto& group = *static_cast<GroupCallbackContext*>(context);
    return group.converter->DispatchRecord(*group.run, info, reason);
}

bool xvAPI::FinishGroup(ConvertContext& ctx, GroupCallbackContext& group, xvl::xvlImpInfo& info, int status,
                        bool accepted, const std::string& reason, MessageQueue& queue) {
    const auto file = static_cast<int16_t>(info.FileNumUsed());
    const auto type = static_cast<int16_t>(info.GroupImportedRec());
    if (!accepted) {
        ++ctx.recordsRead;
        int32_t rejectLine = 0;  // counted as rejected once the reject file holds the group
        if (!ctx.import->xvlGroupToRejectFile(rejectLine)) return EndFile(ctx, RejectFailure(ctx), true, true);
        ++ctx.recordsRejected;
        ctx.report->AddRecordTypeTotals(file, type, true, true, false, false, 0);
        // A record the import refused is named and placed by itself, within its group's lines.
        const bool refused = status == 1;
        const std::string& id = refused ? info.FormatID() : info.GroupID();
        int32_t line = refused ? info.StartLine() : info.GroupStartLine();
        if (ctx.converting) line = refused ? rejectLine - info.GroupStartLine() + info.StartLine() : rejectLine;
        if (!ctx.report->PrintReportLine(id, line, reason)) return EndFile(ctx, PrintFailure(ctx, 12010), true, true);
        return true;
    }
    ++ctx.recordsRead;
    // What the group's last record, its completion or its posting left belongs to its first line.
    for (auto& text : *group.messages)
        queue.emplace(static_cast<uint32_t>(info.GroupStartLine()),
                      QueuedMessage{info.GroupID(), info.GroupImportedRec(), std::move(text)});
    group.messages->clear();
    ctx.report->AddRecordTypeTotals(file, type, true, false, true, false, static_cast<uint16_t>(queue.size()));
    const int shift = ctx.converting ? 1 : 0;
    for (auto it = queue.begin(); it != queue.end();) {
        const auto end = queue.upper_bound(it->first);
        const QueuedMessage& first = it->second;
        const std::string key = first.recordType == kRecInvoice
                                    ? "- " + invoiceImage.vendor + ", " + groupInvoiceId
                                    : std::string();
        convert::MessageList texts;
        for (auto m = it; m != end; ++m) texts.push_back(m->second.text);
        if (!ctx.notes->PrintRecordMessages(first.id, it->first + shift, texts, ctx.progress, first.recordType,
                                            info.FileNumUsed(), this, key))
            return EndFile(ctx, PrintFailure(ctx, 12012), true, true);
        it = end;
    }
    return true;
}

bool xvAPI::PrintEndNotes(ConvertContext& ctx) {
    const std::pair<uint32_t, int> notes[] = {{dateReceivedBlankLine, 12699}, {dateReceivedUnusedLine, 12704},
                                              {paymentDateBlankLine, 12705},  {approvalUnusedLine, 12747},
                                              {discountUnusedLine, 12752},    {deductionUnusedLine, 12753}};
    bool any = !taxGroupList.empty();
    for (const auto& [line, number] : notes) any = any || line != 0;
    if (!any) return true;
    auto put = [&](const std::string& text, bool counted) {
        if (!ctx.notes->PrintMessageLine("", 0, text)) return false;
        if (counted && ctx.progress) ctx.progress->messages += 1;
        return true;
    };
    const uint32_t shift = ctx.converting ? 1 : 0;
    bool printed = put("", false);
    for (const auto& [line, number] : notes) {
        if (line == 0 || !printed) continue;
        const std::string shown = Line(line + shift);
        printed = put(number == 12753 ? Msg(number, suite::xk_description(63), shown) : Msg(number, shown), true);
    }
    if (printed && !taxGroupList.empty()) {
        printed = put(Msg(ctx.converting ? 12750 : 12749, taxGroupList.size() > 1 ? "s" : ""), true);
        for (const auto& line : TaxGroupLines(taxGroupList, ctx.notes->TextWidth()))
            printed = printed && put(line, false);
    }
    return printed || EndFile(ctx, PrintFailure(ctx, 12012), true, true);
}

}  // namespace dz::ap
