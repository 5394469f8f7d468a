// The SDL compiler: lexical rules, both machine forms, heads, parameters, diagnostics and the file entry.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include "core/report.h"
#include "fsm/sdl.h"
#include "fsm/sdlc.h"
#include "pdl/pdl_parse.h"
#include "pdl/protodb.h"
#include "support.h"
#include "test_interp.h"

namespace {

using namespace zm;

// One compilation into a private list; `out` collects the printed diagnostics.
struct Compiled {
    DefinitionList list;
    ProtoDb db;
    std::string out;
    bool ok = false;

    explicit Compiled(const std::string& text) {
        db.set_output(std::tmpfile());
        const std::string pdl = "IPX_HDR { ttl : 8; }";
        parse_pdl_text(db, pdl.c_str(), pdl.size());
        char* printed = nullptr;
        size_t size = 0;
        std::FILE* f = open_memstream(&printed, &size);
        ok = compile_sdl(SdlSource{text.data(), text.size(), nullptr}, list, db, f);
        std::fclose(f);
        out.assign(printed, size);
        std::free(printed);
    }
    const Definition* def(const char* name) const { return list.find(name); }
};

TEST(SdlCompile, BothMachineFormsEmptyStateAndRedefinition) {
    Compiled a("fsm m1 { s1 { start { init } } }\nm2 { s1 { start { init } } quiet { } }");
    ASSERT_TRUE(a.ok) << a.out;
    const Definition* m1 = a.def("m1");
    const Definition* m2 = a.def("m2");
    ASSERT_TRUE(m1 && m2);
    ASSERT_EQ(m1->states.size(), 1u);
    const Event& e = m1->states[0].events.at(0);
    EXPECT_EQ(std::make_tuple(e.kind, e.action, e.use_params, e.state),
              std::make_tuple(EV_START, std::string("init"), true, &m1->states[0]));
    ASSERT_EQ(m2->states.size(), 2u);
    EXPECT_EQ(std::make_tuple(m2->states[1].name, m2->states[1].index, m2->states[1].events.size()),
              std::make_tuple(std::string("quiet"), 1, size_t{0}));
    EXPECT_EQ(m2->max_events, 1);
    // A later definition of a name hides the earlier one, which stays in the list.
    Compiled c("m { a { start { x } } }\nm { b { start { y } } }");
    ASSERT_EQ(c.list.size(), 2u);
    EXPECT_EQ(c.def("m")->states[0].name + c.list.at(1)->states[0].name, "ba");
}

TEST(SdlCompile, ActionBlocksCommentsAndStrings) {
    Compiled c(
        "# a comment line { not parsed\n"
        "m { /* block\n comment */ s {\n"
        "  inpdu \"IPX_HDR ttl=$x\" {#{\n  puts hi\n#}}\n"
        "  event go // skipped to here; { go_method }\n"
        "} }\n");
    ASSERT_TRUE(c.ok) << c.out;
    const State& s = c.def("m")->states[0];
    ASSERT_EQ(s.events.size(), 2u);
    const Event& in = s.events[0];
    EXPECT_EQ(std::make_tuple(in.kind, in.argument, in.action, in.use_params),
              std::make_tuple(EV_INPDU, std::string("IPX_HDR ttl=$x"), std::string("\n  puts hi\n#}"), false));
    EXPECT_EQ(s.events[1].argument + " " + s.events[1].action, "go go_method");
}

TEST(SdlCompile, NumbersHexStringsAndParameters) {
    Compiled c("m { s { event e { act 0x12345678 0x123456789 42 word %ph %packet_handle %s %state %to %timeout %e "
               "%event %other } } }");
    ASSERT_TRUE(c.ok) << c.out;
    const auto& p = c.def("m")->states[0].events[0].params;
    ASSERT_EQ(p.size(), 13u);
    // Hex that fits 32 bits becomes decimal; longer hex stays as written.
    EXPECT_EQ(std::vector<std::string>({p[0].text, p[1].text, p[2].text, p[3].text}),
              (std::vector<std::string>{"305419896", "0x123456789", "42", "word"}));
    EXPECT_EQ(zm_test::each(p, [](const auto& x) { return x.kind; }),
              (std::vector<int>{PARAM_LITERAL, PARAM_LITERAL, PARAM_LITERAL, PARAM_LITERAL, PARAM_PACKET, PARAM_PACKET,
                                PARAM_STATE, PARAM_STATE, PARAM_TIMEOUT, PARAM_TIMEOUT, PARAM_EVENT, PARAM_EVENT,
                                PARAM_IGNORED}));
}

TEST(SdlCompile, HeadOptionsAndArgumentKinds) {
    Compiled c("m { s { timeout -quick -level = high t1, 7, 0xaabbccddee, $v, IPX_HDR.ttl = 3, "
               "NOPE.f = w, IPX_HDR.ttl = 0x1122334455, IPX_HDR.ttl = $y { on_t } } }");
    ASSERT_TRUE(c.ok) << c.out;
    const EventHead& h = c.def("m")->states[0].events[0].head;
    ASSERT_EQ(h.options.size(), 2u);
    EXPECT_EQ(std::make_tuple(h.options[0].word, h.options[0].value.has_value(), h.options[1].value.value_or("")),
              std::make_tuple(std::string("-quick"), false, std::string("high")));
    EXPECT_EQ(zm_test::each(h.args, [](const auto& a) { return a.kind; }),
              (std::vector<int>{ARG_WORD, ARG_NUMBER, ARG_HEXSTRING, ARG_VARIABLE, ARG_FIELD_NUMBER, ARG_FIELD_WORD,
                                ARG_FIELD_HEXSTRING, ARG_FIELD_VARIABLE}));
    EXPECT_EQ(std::make_tuple(h.args[1].number, h.args[3].text), std::make_tuple(7u, std::string("v")));
    EXPECT_TRUE(h.args[4].field && !h.args[5].field);
    EXPECT_EQ(c.out, "unknown field NOPE.f\n");
    EXPECT_EQ(c.def("m")->states[0].events[0].argument, "t1");
}

TEST(SdlCompile, SyntaxErrorsNameLineAndToken) {
    // A "#" inside a line is an ordinary character; an action cannot hold one.
    Compiled a("ok { s { start { x } } }\n\nm { s # { } }");
    EXPECT_FALSE(a.ok);
    EXPECT_EQ(a.out, "parse error at line 3: '#'\n");
    EXPECT_NE(a.def("ok"), nullptr);  // reduced before the error
    Compiled b("m { s { start {#{ a # b #} } } }");
    EXPECT_EQ(b.out, "parse error at line 1: '#'\n");
    // Lines inside action blocks and comments count.
    Compiled c("m { s {\n start {#{\n\n#} }\n /*\n*/ } oops");
    EXPECT_EQ(c.out, "parse error at line 6: ''\n");
    // A NUL byte is a character like any other, not the end of the text.
    Compiled d(std::string("m { s { } }\0 }", 13));
    EXPECT_FALSE(d.ok);
}

TEST(SdlCompile, OverlongTokenStopsTheCompilation) {
    ReportCapture capture;
    std::string text = "m { s { start { " + std::string(kSdlTokenMax + 1, 'a') + " } } }\nn { s { start { x } } }";
    Compiled c(text);
    EXPECT_FALSE(c.ok);
    EXPECT_EQ(c.list.size(), 0u);
    EXPECT_TRUE(capture.contains("token too long at line 1; compilation abandoned")) << c.out;
    Compiled fits("m { s { start { " + std::string(kSdlTokenMax, 'a') + " } } }");
    EXPECT_TRUE(fits.ok);
}

TEST(SdlCompile, FileEntryAddsExtensionSearchesPathAndTakesText) {
    Tcl_Interp* interp = zm_test_interp();
    std::string dir = ::testing::TempDir() + "sdl_files";
    std::filesystem::create_directories(dir);
    std::ofstream(dir + "/fa.sdl") << "fa_machine { s { start { x } } }\n";
    std::ofstream(dir + "/fb.txt") << "fb_machine { s { start { x } } }\n";
    Tcl_SetVar(interp, "pdl_path", dir.c_str(), TCL_GLOBAL_ONLY);
    ReportCapture capture;
    testing::internal::CaptureStdout();
    const char* files[] = {"sdlc", "fa", "fb.txt", "missing", "-", "fc_machine { s { } }", nullptr};
    EXPECT_EQ(compile_sdl_files(interp, 6, files), TCL_OK);
    const char* none[] = {"sdlc", nullptr};
    compile_sdl_files(interp, 1, none);
    const char* dash[] = {"sdlc", "-", nullptr};
    compile_sdl_files(interp, 2, dash);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "compiling " + dir + "/fa.sdl...\ncompiling " + dir +
                       "/fb.txt...\nUsage: sdlc file...\nno standard input provided\n");
    EXPECT_TRUE(capture.contains("couldn't open missing.sdl locally or in the path \"" + dir + "\""));
    for (const char* name : {"fa_machine", "fb_machine", "fc_machine"})
        EXPECT_NE(definitions().find(name), nullptr) << name;
    Tcl_UnsetVar(interp, "pdl_path", TCL_GLOBAL_ONLY);
    std::filesystem::remove_all(dir);
}

TEST(SdlCompile, LookupCompilesTheVariableOnce) {
    Tcl_Interp* interp = zm_test_interp();
    testing::internal::CaptureStdout();
    Tcl_SetVar(interp, "lk_machine", "other_name { s { } }", TCL_GLOBAL_ONLY);
    EXPECT_EQ(find_definition(interp, "lk_machine"), nullptr);
    Tcl_SetVar(interp, "lk_machine", "lk_machine { s { } }", TCL_GLOBAL_ONLY);
    const Definition* d = find_definition(interp, "lk_machine");
    Tcl_SetVar(interp, "lk_machine", "lk_machine { t { } }", TCL_GLOBAL_ONLY);
    EXPECT_EQ(find_definition(interp, "lk_machine"), d);  // compiled already: the text is not read again
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "couldn't find state machine lk_machine\n");
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->states[0].name, "s");
    Tcl_UnsetVar(interp, "lk_machine", TCL_GLOBAL_ONLY);
}

}  // namespace
