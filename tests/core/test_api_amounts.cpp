// The amount-sign checks of AP records, and how an existing CM transaction takes a check's net.
#include "converters/ap/xvapi_amounts.h"
#include "converters/ap/xvapi_cm.h"

#include <gmock/gmock.h>

namespace dz::ap {
namespace {

using S = AmountSet;

AmountSet Set(std::initializer_list<std::pair<S::Slot, double>> amounts, uint8_t paid = 0) {
    AmountSet s;
    for (const auto& [slot, value] : amounts) s.amounts[slot] = value;
    s.paid = paid;
    return s;
}

TEST(ApiAmountSigns, OneSideSharesOneSignAndDeductionsStayWithinWhatIsOwed) {
    struct Case {
        const char* what;
        AmountSet set;
        bool signs, payment;
    };
    // What, the amounts, then whether the signs pass and whether the deductions pass.
    const Case cases[] = {
        {"amount, tax and a negative discount",
         Set({{S::kAmount, 10000}, {S::kTax, 500}, {S::kDiscount, -200}}), false, true},
        {"the discount zero", Set({{S::kAmount, 10000}, {S::kTax, 500}}), true, true},
        {"negative originals, positive paid",
         Set({{S::kAmount, -10000}, {S::kTaxLiability, -5}, {S::kAmountPaid, 400}}), true, true},
        {"a paid record's paid side", Set({{S::kAmountPaid, 5000}, {S::kDiscountTaken, -100}}, 1), false, true},
        {"a paid record ignores originals", Set({{S::kAmount, -1}, {S::kAmountPaid, 5000}}, 1), true, true},
        {"discount lost is never judged", Set({{S::kAmount, 100}, {S::kDiscountLost, -50}}), true, true},
        {"an untaken discount fully paid",
         Set({{S::kAmount, 10000}, {S::kAmountPaid, 10000}, {S::kDiscount, 500}}), true, false},
        {"taken and lost",
         Set({{S::kAmount, 10000}, {S::kAmountPaid, 10000}, {S::kDiscount, 500}, {S::kDiscountTaken, 300},
              {S::kDiscountLost, 200}}),
         true, true},
        {"deductions equal to what is owed", Set({{S::kAmount, 10000}, {S::kAmt64, 6000}, {S::kAmt63, 4000}}), true,
         true},
        {"magnitudes", Set({{S::kAmount, -10000}, {S::kAmountPaid, -4000}, {S::kAmt64, -7000}}), true, false},
        {"all zero", Set({}), true, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CheckAmountSigns(c.set), c.signs) << c.what;
        EXPECT_EQ(CheckPaymentAmountSigns(c.set), c.payment) << c.what;
    }
    EXPECT_EQ(AbsoluteAmount(-12.5), 12.5);
}

TEST(ApiAmountSigns, TheExampleNamesTheFirstNegativeThenTheFirstPositive) {
    EXPECT_EQ(SignExample(Set({{S::kAmount, 10000}, {S::kAmt64, -1000}, {S::kTax, -5}})), " (i.e. -10.00 and 100.00)");
    EXPECT_EQ(SignExample(Set({{S::kAmount, 10000}})), "");
    modlibs::PaidDistImage paid;
    paid.amountPaid = 300;
    paid.taxLiabilityApplied = -1;
    AmountSet loaded;
    EXPECT_FALSE(CheckAmountSigns(LoadAmountSet(loaded, paid)));
    EXPECT_EQ(SignExample(loaded), " (i.e. -0.01 and 3.00)");
}

TEST(ApiCmTransaction, TheNetMovesBetweenTheColumnsSoThatOneHoldsTheBalance) {
    auto extend = [](double subtract, double add, double net, int16_t reconciled = 1) {
        CMTransImage image;
        image.transaction.subtract = subtract;
        image.transaction.add = add;
        image.transaction.reconciled = reconciled;
        AddNetAmount(image, net);
        return image;
    };
    const CMTransImage more = extend(10000, 0, 2500);
    EXPECT_EQ(more.transaction.subtract, 12500);
    EXPECT_EQ(more.transaction.add, 0);
    EXPECT_EQ(more.detail.amount, 2500);
    const CMTransImage turned = extend(1000, 0, -3000);  // the net turns negative
    EXPECT_EQ(turned.transaction.add, 2000);
    EXPECT_EQ(turned.transaction.subtract, 0);
    const CMTransImage back = extend(0, 1000, 3000);
    EXPECT_EQ(back.transaction.subtract, 2000);
    EXPECT_EQ(back.transaction.add, 0);
    const CMTransImage stillAdd = extend(0, 5000, 1000);  // a subtraction left negative
    EXPECT_EQ(stillAdd.transaction.add, 4000);
    EXPECT_EQ(stillAdd.transaction.subtract, 0);
    EXPECT_EQ(extend(0, 0, 700, 1).transaction.reconciledAmount, 0);
    EXPECT_EQ(extend(0, 0, 700, 3).transaction.reconciledAmount, -700);
}

}  // namespace
}  // namespace dz::ap
