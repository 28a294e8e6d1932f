// The complete default company that `company init` writes: an English-speaking company with
// a three-level GL account format (so every GL section exists), sectioned job and phase
// formats, the custom descriptions and custom lists the converters name, every interface
// between installed applications turned on with entry creation.
#include "platform/suite/company.h"

namespace dz::suite {

namespace {

KeySection sec(const char* description, int width, const char* separator = "", bool capitals = true,
               bool right_justify = false) {
    return KeySection{description, width, separator, capitals, right_justify};
}

KeyFormat single(int number, const char* description, int width, bool capitals = true) {
    KeyFormat f;
    f.number = number;
    f.sections.push_back(sec(description, width, "", capitals));
    return f;
}

}  // namespace

CompanySettings default_settings(const std::set<std::string>& installed) {
    CompanySettings s;
    s.name = "New Company";
    s.operator_name = "ADMIN";
    s.accounting_method = 3;
    s.jc_transaction_flag = 0;
    s.country_ap = 1;
    s.country_pr = 1;
    s.installed = installed;

    // Interfaces between the modules that pass entries to one another.
    static const std::pair<const char*, const char*> pairs[] = {
        {"AP", "CM"}, {"AP", "GL"}, {"AP", "JC"}, {"AP", "BL"}, {"AR", "GL"}, {"CM", "GL"},
        {"EQ", "JC"}, {"JC", "GL"}, {"PM", "AP"}, {"PM", "GL"}, {"PR", "EQ"}, {"PR", "GL"},
        {"PR", "JC"}};
    for (const auto& [from, to] : pairs) {
        if (installed.count(from) && installed.count(to)) s.interfaces.push_back({from, to, true, true});
    }

    for (const auto& app : installed) s.security_allowed[app] = {1160};
    s.formulas = {"Standard rent", "CPI escalation"};
    s.report_designs = {"Standard invoice", "Standard statement"};

    // The words messages print mid-sentence (49, 53, 77, 330) are lower case: payroll prints
    // "Work state is required" with the word as it stands and capitalises it where a sentence
    // needs it. docs/company.md names what each number stands for and who prints it.
    s.descriptions = {
        {1, "Batch"},                 {3, "Invoice"},               {6, "Vendor"},
        {7, "Bank account"},          {8, "Check"},                 {9, "Account"},
        {12, "Category"},             {15, "Extra"},                {16, "Job"},
        {18, "Phase"},                {19, "Job cost"},             {20, "Commitment"},
        {28, "Employee"},             {30, "Department"},           {31, "Deduction"},
        {33, "Earning"},              {37, "Tax group"},            {38, "Authorization"},
        {39, "Fringe"},               {40, "Tax"},                  {41, "Class"},
        {43, "State"},                {44, "Local"},                {46, "Union"},
        {49, "city"},                 {53, "state"},                {60, "Distribution code"},
        {61, "Invoice code 1"},       {62, "Invoice code 2"},       {63, "Deduction"},
        {64, "Retainage"},            {69, "Equipment"},            {70, "Revenue code"},
        {71, "Work order"},           {77, "status"},               {78, "Job order"},
        {79, "Custom sort"},          {116, "Progress"},            {117, "Unit price"},
        {118, "Cost plus"},           {119, "Time and material"},   {128, "Draw"},
        {142, "Location"},            {187, "Cost code"},           {189, "Unit"},
        {262, "Classification"},      {263, "Urgency"},             {264, "Follow-up"},
        {265, "Status"},              {266, "Problem"},             {300, "Customer"},
        {301, "Contact"},             {306, "Invoice"},             {321, "Markup"},
        {328, "Billing"},             {330, "rate table"},          {342, "Contact type"},
        {344, "Trade"},               {345, "Customer type"},       {346, "Tax certificate"},
        {351, "Add-on table"},        {369, "Tax status"},          {377, "Billing frequency"},
        {380, "Credit rating"},       {381, "Generation date"},     {382, "Generation sequence"},
        {400, "Property"},            {401, "Unit"},                {402, "Tenant"},
        {403, "Lease"},               {404, "Revision"},            {405, "Building"},
        {406, "Floor"},               {407, "Suite"},               {408, "Area"},
        {409, "Region"},              {410, "Portfolio"},           {411, "Misc income source"},
        {412, "Owner"},               {413, "Manager"},             {414, "Sales category"},
        {415, "Charge type"},         {416, "Escalation"},          {417, "SF type"},
        {418, "Property type"},       {419, "Unit class"},          {420, "Property attribute"},
        {421, "Address type"},        {422, "Deposit type"},        {423, "Option category"},
        {424, "Insurance type"},      {425, "Recovery"},            {426, "Corporation"},
        {427, "SIC code"},            {428, "Business category"},   {429, "SF"},
        {430, "Issue"},               {431, "Vendor"},              {432, "Broker"},
        {433, "Guarantor"},           {434, "Sales type"},          {435, "Contract"},
        {436, "Work order"},          {437, "Store"},               {527, "Location"},
        {529, "PPS"},                 {554, "Country"}};

    // GL account: prefixes A "01", B "2", C "33", base "4000", suffix "10".
    KeyFormat gl;
    gl.number = 9;
    gl.prefix_levels = 3;
    gl.sections = {sec("Prefix A", 2, "-"), sec("Prefix B", 1, "-"), sec("Prefix C", 2, "-"),
                   sec("Base", 4, "-"), sec("Suffix", 2)};
    gl.gl_descriptions = {{6, "Prefix"}, {7, "Base account"}, {8, "Account"}, {9, "Prefix B"},
                          {10, "Prefix C"}};
    s.formats[9] = gl;

    KeyFormat job;
    job.number = 16;
    job.sections = {sec("Job", 3, "-"), sec("Sub job", 3)};
    s.formats[16] = job;

    KeyFormat phase;
    phase.number = 18;
    phase.sections = {sec("Phase", 2, "-"), sec("Sub phase", 3, "."), sec("Item", 2)};
    s.formats[18] = phase;

    KeyFormat eqcost;
    eqcost.number = 187;
    eqcost.sections = {sec("Cost code", 3, "-"), sec("Sub code", 3)};
    s.formats[187] = eqcost;

    for (KeyFormat f : {single(3, "Invoice", 15, false), single(8, "Check", 10), single(12, "Category", 3),
                        single(15, "Extra", 6), single(20, "Commitment", 10), single(41, "Class", 6),
                        single(69, "Equipment", 10), single(70, "Revenue code", 6), single(78, "Job order", 10),
                        single(79, "Custom sort", 10), single(300, "Customer", 10), single(301, "Contact", 10),
                        single(400, "Property", 6), single(401, "Unit", 6), single(402, "Tenant", 10),
                        single(403, "Lease", 10), single(404, "Revision", 3), single(411, "Misc income source", 6),
                        single(415, "Charge type", 6), single(426, "Corporation", 10)}) {
        s.formats[f.number] = f;
    }
    // Every field a substitution table can hold needs a width: payroll, miscellaneous, issues
    // and property-management fields (list values keep their letter case).
    const std::pair<int, int> more[] = {{6, 10}, {7, 10}, {28, 9}, {30, 6}, {31, 3}, {33, 3}, {37, 6},
                                        {39, 3}, {40, 3}, {43, 2}, {44, 6}, {46, 6}};
    for (const auto& [n, width] : more) s.formats[n] = single(n, s.descriptions.at(n).c_str(), width);
    for (int n : {262, 265, 266, 408, 410, 414, 416, 417, 418, 419, 420, 421, 422, 423, 424, 427, 428, 431,
                  434, 435, 436, 437}) {
        s.formats[n] = single(n, s.descriptions.at(n).c_str(), 15, false);
    }

    // Custom lists: the default, then the values allowed (the default among them when allowed).
    s.lists = {
        {262, {"General", {"General", "Maintenance", "Safety"}}},
        {263, {"Normal", {"Low", "Normal", "High", "Emergency"}}},
        {264, {"None", {"None", "Call", "Visit"}}},
        {265, {"Open", {"Open", "Pending", "Closed"}}},
        {266, {"Other", {"Plumbing", "Electrical", "Heating", "Other"}}},
        {342, {"Primary", {"Primary", "Billing", "Other"}}},
        {344, {"General", {"General", "Electrical", "Plumbing", "Mechanical"}}},
        {345, {"Commercial", {"Commercial", "Residential", "Government"}}},
        {369, {"Taxable", {"Taxable", "Exempt"}}},
        {377, {"Monthly", {"Weekly", "Monthly", "Quarterly", "Annually"}}},
        {380, {"Good", {"Excellent", "Good", "Fair", "Poor"}}},
        {414, {"Retail", {"Retail", "Food", "Services"}}},
        {417, {"Rentable", {"Rentable", "Usable", "Gross"}}},
        {418, {"Office", {"Office", "Retail", "Industrial", "Residential"}}},
        {419, {"Standard", {"Standard", "Premium"}}},
        {420, {"Parking", {"Parking", "Storage", "Signage"}}},
        {421, {"Billing", {"Billing", "Mailing", "Legal"}}},
        {422, {"Security", {"Security", "Key", "Pet"}}},
        {423, {"Renewal", {"Renewal", "Expansion", "Termination"}}},
        {424, {"Liability", {"Liability", "Property", "Workers comp"}}},
        {428, {"Retail", {"Retail", "Restaurant", "Office"}}},
        {434, {"Gross", {"Gross", "Net"}}},
        {437, {"Main", {"Main"}}},
        {554, {"USA", {"USA", "Canada", "Australia"}}}};
    return s;
}

}  // namespace dz::suite
