// Exact-output guard for the envelope: a fixed, broad set of scenarios is
// rendered by the built tessarn.sep in the test host, and a hash of every
// bit of every output sample is compared with the hash recorded in the table
// below. Any change of an output bit fails here; a change that is meant must
// update the table in the same commit and say why (OutputHash.h says how to
// print the new rows).
#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "../support/OutputHash.h"
#include "SepHost.h"

namespace {

using outputhash::Ramp;
using sephost::Engine;
using sephost::EngineOptions;
using sephost::Library;

// Pin indexes as declared by the module.
constexpr int32_t kGate = 0, kAttack = 1, kHold = 2, kDecay = 3, kSustain = 4, kRelease = 5, kLevel = 6,
                  kAttackForm = 7, kDecayForm = 8, kReleaseForm = 9, kFullAttack = 10, kNoRelease = 11, kLfoAmt = 12,
                  kLfoFreq = 13, kLfoPhase = 14, kLfoAlign = 15, kSignalOut = 16, kDbMode = 17;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

struct Scenario {
    std::string name;
    float sample_rate = 44100.0f;
    int32_t block_size = 256;
    uint32_t samples = 24000;
    std::function<void(Engine&)> drive;
};

// An ADSR with stages several blocks long: gate on at 0, off at 12000.
void SetAdsr(Engine& engine, float attack_form, float decay_form, float release_form) {
    engine.SetInput(0, kAttack, 15.0f);  // 1/15 s
    engine.SetInput(0, kHold, 40.0f);
    engine.SetInput(0, kDecay, 9.0f);
    engine.SetInput(0, kSustain, 0.6f);
    engine.SetInput(0, kRelease, 6.0f);
    engine.SetInput(0, kLevel, 0.8f);
    engine.SetInput(0, kAttackForm, attack_form);
    engine.SetInput(0, kDecayForm, decay_form);
    engine.SetInput(0, kReleaseForm, release_form);
    engine.SetInputInt(0, kFullAttack, 0);
    engine.SetInputInt(0, kNoRelease, 0);
    engine.SetInput(0, kLfoAmt, 0.0f);
    engine.SetInput(0, kGate, 1.0f);
    engine.SetInput(0, kGate, 0.0f, 12000);
}

std::vector<float> Pulses(int samples, int period, int width) {
    std::vector<float> gate(static_cast<size_t>(samples), 0.0f);
    for (int i = 0; i < samples; ++i) gate[static_cast<size_t>(i)] = (i % period) < width ? 1.0f : 0.0f;
    return gate;
}

struct Hostile {
    const char* name;
    int32_t pin;
    float value;
    uint32_t at;
};
const Hostile kHostile[] = {
    {"attack-nan", kAttack, kNaN, 0},
    {"attack-inf", kAttack, kInf, 0},
    {"attack-negative", kAttack, -3.0f, 0},
    {"hold-nan", kHold, kNaN, 0},
    {"hold-zero", kHold, 0.0f, 0},
    {"decay-nan", kDecay, kNaN, 0},
    {"decay-zero", kDecay, 0.0f, 0},
    {"sustain-nan", kSustain, kNaN, 0},
    {"sustain-above-one", kSustain, 1.7f, 0},
    {"sustain-negative", kSustain, -0.4f, 0},
    {"release-nan", kRelease, kNaN, 0},
    {"release-zero", kRelease, 0.0f, 0},
    {"release-negative", kRelease, -2.0f, 0},
    {"form-huge", kAttackForm, 10.0f, 0},
    {"form-minus-huge", kDecayForm, -10.0f, 0},
    {"form-nan", kReleaseForm, kNaN, 0},
    {"form-7", kAttackForm, 0.74f, 0},
    {"form-minus-6", kReleaseForm, -0.58f, 0},
    {"level-inf", kLevel, kInf, 0},
    {"level-nan", kLevel, kNaN, 0},
    {"gate-nan", kGate, kNaN, 3000},
    {"gate-half", kGate, 0.5f, 6000},
    {"gate-tiny", kGate, 1.0e-7f, 6000},
    {"lfo-freq-nan", kLfoFreq, kNaN, 0},
    {"lfo-freq-huge", kLfoFreq, 1.0e30f, 0},
    {"lfo-amt-nan", kLfoAmt, kNaN, 0},
    {"lfo-phase-inf", kLfoPhase, kInf, 5000},
};

std::vector<Scenario> Scenarios() {
    std::vector<Scenario> all;

    // every stage through curve forms of both signs, both laws
    const float forms[] = {-0.6f, -0.3f, -0.05f, 0.0f, 0.1f, 0.35f, 0.7f};
    for (float form : forms) {
        for (int32_t law : {0, 1}) {
            Scenario s;
            s.name = "adsr/form" + std::to_string(form).substr(0, 5) + "/law" + std::to_string(law);
            s.drive = [form, law](Engine& engine) {
                SetAdsr(engine, form, -form, form * 0.5f);
                engine.SetInputInt(0, kDbMode, law);
            };
            all.push_back(s);
        }
    }

    // gate-off in attack and in hold, with the options on and off
    for (int full_attack = 0; full_attack <= 1; ++full_attack) {
        for (int no_release = 0; no_release <= 1; ++no_release) {
            for (uint32_t gate_off : {1500u, 4000u, 12000u}) {
                Scenario s;
                s.name = "options/full" + std::to_string(full_attack) + "/norelease" + std::to_string(no_release) +
                         "/off" + std::to_string(gate_off);
                s.drive = [full_attack, no_release, gate_off](Engine& engine) {
                    SetAdsr(engine, 0.3f, -0.2f, 0.4f);
                    engine.SetInputInt(0, kFullAttack, full_attack);
                    engine.SetInputInt(0, kNoRelease, no_release);
                    engine.SetInput(0, kGate, 0.0f, gate_off);
                    engine.SetInput(0, kGate, 1.0f, 18000);  // retrigger
                    engine.SetInput(0, kGate, 0.0f, 21000);
                };
                all.push_back(s);
            }
        }
    }

    // every LFO mode at several depths, both laws, a phase change while running
    for (int32_t align = 0; align <= 4; ++align) {
        for (float amount : {0.0f, 0.5f, 1.0f, 1.6f}) {
            for (int32_t law : {0, 1}) {
                Scenario s;
                s.name = "lfo/align" + std::to_string(align) + "/amt" + std::to_string(amount).substr(0, 3) + "/law" +
                         std::to_string(law);
                s.drive = [align, amount, law](Engine& engine) {
                    SetAdsr(engine, 0.2f, 0.2f, -0.2f);
                    engine.SetInput(0, kLfoAmt, amount);
                    engine.SetInput(0, kLfoFreq, 7.0f);
                    engine.SetInput(0, kLfoPhase, 0.25f);
                    engine.SetInput(0, kLfoPhase, 0.5f, 9000);
                    engine.SetInputInt(0, kLfoAlign, align);
                    engine.SetInputInt(0, kDbMode, law);
                };
                all.push_back(s);
            }
        }
    }

    // streamed inputs: gate pulses crossing the threshold inside blocks, a
    // moving sustain, LFO rate and phase, level and forms
    for (int32_t align : {1, 3}) {
        Scenario s;
        s.name = "streams/align" + std::to_string(align);
        s.block_size = 100;
        s.drive = [align](Engine& engine) {
            SetAdsr(engine, 0.0f, 0.0f, 0.0f);
            engine.SetInput(0, kAttack, 300.0f);
            engine.SetInput(0, kDecay, 200.0f);
            engine.SetInput(0, kRelease, 150.0f);
            engine.SetInput(0, kHold, 500.0f);
            engine.StreamInput(0, kGate, Pulses(24000, 1777, 900));
            engine.StreamInput(0, kSustain, Ramp(0.2f, 0.9f, 24000));
            engine.StreamInput(0, kLfoFreq, Ramp(1.0f, 40.0f, 24000));
            engine.StreamInput(0, kLfoPhase, Ramp(0.0f, 3.0f, 24000));
            engine.StreamInput(0, kLevel, Ramp(1.0f, 0.3f, 24000));
            engine.StreamInput(0, kAttackForm, Ramp(-0.5f, 0.5f, 24000));
            engine.StreamInput(0, kReleaseForm, Ramp(0.6f, -0.6f, 24000));
            engine.SetInput(0, kLfoAmt, 0.4f);
            engine.SetInputInt(0, kLfoAlign, align);
        };
        all.push_back(s);
    }

    // laws: the default text, linear, exponential, an unknown code
    for (int32_t law : {0, 1, 5, -1}) {
        Scenario s;
        s.name = "law" + std::to_string(law);
        s.drive = [law](Engine& engine) {
            SetAdsr(engine, 0.5f, 0.5f, 0.5f);
            engine.SetInputInt(0, kDbMode, law);
            engine.SetInput(0, kLevel, 1.0f);
            engine.SetInput(0, kLevel, 0.25f, 5000);
        };
        all.push_back(s);
    }

    for (const Hostile& hostile : kHostile) {
        Scenario s;
        s.name = std::string("hostile/") + hostile.name;
        const Hostile h = hostile;
        s.drive = [h](Engine& engine) {
            SetAdsr(engine, 0.3f, -0.3f, 0.2f);
            engine.SetInput(0, kLfoAmt, 0.3f);
            engine.SetInputInt(0, kLfoAlign, 2);
            engine.SetInput(0, h.pin, h.value, h.at);
        };
        all.push_back(s);
    }

    // sample rates, host block sizes, a resume in decay
    for (float rate : {8.0f, 22050.0f, 96000.0f}) {
        for (int32_t block : {1, 64, 1024}) {
            Scenario s;
            s.name = "rate" + std::to_string(static_cast<int>(rate)) + "/block" + std::to_string(block);
            s.sample_rate = rate;
            s.block_size = block;
            s.samples = rate < 100.0f ? 200 : 24000;
            s.drive = [rate](Engine& engine) {
                SetAdsr(engine, 0.4f, 0.1f, -0.4f);
                if (rate < 100.0f) {
                    engine.SetInput(0, kAttack, 2.0f);
                    engine.SetInput(0, kHold, 4.0f);
                    engine.SetInput(0, kDecay, 2.0f);
                    engine.SetInput(0, kRelease, 2.0f);
                    engine.SetInput(0, kGate, 0.0f, 40);
                    engine.SetInput(0, kGate, 1.0f, 100);
                }
            };
            all.push_back(s);
        }
    }
    return all;
}

uint64_t Render(const Library& library, const Scenario& scenario, bool resume) {
    EngineOptions options;
    options.sample_rate = scenario.sample_rate;
    options.block_size = scenario.block_size;
    Engine engine(options);
    std::string error;
    EXPECT_EQ(engine.Place(library, 1, &error), 0) << error;
    scenario.drive(engine);
    EXPECT_TRUE(engine.Open(&error)) << error;
    if (resume) {
        EXPECT_TRUE(engine.Run(scenario.samples / 3, &error)) << error;
        engine.Dispatch(0, SE_OP_RESUME, 0, 0, nullptr, 0.0f);
        EXPECT_TRUE(engine.Run(scenario.samples - scenario.samples / 3, &error)) << error;
    } else {
        EXPECT_TRUE(engine.Run(scenario.samples, &error)) << error;
    }
    outputhash::Hash hash;
    hash.Add(engine.Output(0, kSignalOut));
    return hash.Value();
}

// Recorded from the build before the envelope's per-sample loops were
// reworked (print command in OutputHash.h): per scenario the hash of the
// plain render and of the render resumed a third of the way in.
struct RecordedPair {
    const char* scenario;
    uint64_t hash, resumed;
};
const RecordedPair kRecorded[] = {
    {"adsr/form-0.60/law0", 0x49ADABE61472ECE4ull, 0x6D429C0CC610C580ull},
    {"adsr/form-0.60/law1", 0xF4B0908BB99A32A2ull, 0xF47052EEE2714676ull},
    {"adsr/form-0.30/law0", 0xCBCA594831EF9E90ull, 0x5022B91DFD51BA47ull},
    {"adsr/form-0.30/law1", 0x97D3075AD267BE93ull, 0x1E7DD13491794254ull},
    {"adsr/form-0.05/law0", 0xE1275DF2698673E2ull, 0x1F5717CB33BAF7E0ull},
    {"adsr/form-0.05/law1", 0x30D33219F6F5E3D9ull, 0xA7BCA474AB6DD791ull},
    {"adsr/form0.000/law0", 0xAF3544C94E56C575ull, 0xA6C789270718ADEAull},
    {"adsr/form0.000/law1", 0xAA9ED5B6BEE3099Full, 0xEB0B826BE600A667ull},
    {"adsr/form0.100/law0", 0x96BFE4DA4BE151AEull, 0x4504EC73E4019654ull},
    {"adsr/form0.100/law1", 0xFD3EA711CBEF4BE4ull, 0x6E24F03B436F68ACull},
    {"adsr/form0.350/law0", 0x9FAA297DDA43FDFBull, 0xA902FC61A3E1CB96ull},
    {"adsr/form0.350/law1", 0xBBC4075C089385CCull, 0x33C7265D67E97C97ull},
    {"adsr/form0.700/law0", 0xB9C9F4AB1E64BE5Cull, 0x44557E4ED4221513ull},
    {"adsr/form0.700/law1", 0x7AFF7B25105CE3BDull, 0xFB45991AD0654941ull},
    {"options/full0/norelease0/off1500", 0x29DC08D41FA293CCull, 0xFB40162F15A5C8EDull},
    {"options/full0/norelease0/off4000", 0xC90867B9601BFB93ull, 0x16B43207F1378BA0ull},
    {"options/full0/norelease0/off12000", 0x727EA7BD5CD4DF75ull, 0x05084D3004C64ACBull},
    {"options/full0/norelease1/off1500", 0x759A184745B5CCF1ull, 0x58E4B16A4BBCB2D3ull},
    {"options/full0/norelease1/off4000", 0x759A184745B5CCF1ull, 0x58E4B16A4BBCB2D3ull},
    {"options/full0/norelease1/off12000", 0x1B9E9D3D74625329ull, 0x9FA391619EB91371ull},
    {"options/full1/norelease0/off1500", 0x759A184745B5CCF1ull, 0x58E4B16A4BBCB2D3ull},
    {"options/full1/norelease0/off4000", 0x759A184745B5CCF1ull, 0x58E4B16A4BBCB2D3ull},
    {"options/full1/norelease0/off12000", 0xDB2D0DC3F7D89FF3ull, 0x9FA391619EB91371ull},
    {"options/full1/norelease1/off1500", 0x759A184745B5CCF1ull, 0x58E4B16A4BBCB2D3ull},
    {"options/full1/norelease1/off4000", 0x759A184745B5CCF1ull, 0x58E4B16A4BBCB2D3ull},
    {"options/full1/norelease1/off12000", 0x1B9E9D3D74625329ull, 0x9FA391619EB91371ull},
    {"lfo/align0/amt0.0/law0", 0x78E736535BBA7D62ull, 0x4E13E49A1BE8CEEAull},
    {"lfo/align0/amt0.0/law1", 0x7A36E9AA8F987AEAull, 0x4C2B24AFBFB121B9ull},
    {"lfo/align0/amt0.5/law0", 0x78E736535BBA7D62ull, 0x4E13E49A1BE8CEEAull},
    {"lfo/align0/amt0.5/law1", 0x7A36E9AA8F987AEAull, 0x4C2B24AFBFB121B9ull},
    {"lfo/align0/amt1.0/law0", 0x78E736535BBA7D62ull, 0x4E13E49A1BE8CEEAull},
    {"lfo/align0/amt1.0/law1", 0x7A36E9AA8F987AEAull, 0x4C2B24AFBFB121B9ull},
    {"lfo/align0/amt1.6/law0", 0x78E736535BBA7D62ull, 0x4E13E49A1BE8CEEAull},
    {"lfo/align0/amt1.6/law1", 0x7A36E9AA8F987AEAull, 0x4C2B24AFBFB121B9ull},
    {"lfo/align1/amt0.0/law0", 0x78E736535BBA7D62ull, 0x4E13E49A1BE8CEEAull},
    {"lfo/align1/amt0.0/law1", 0x7A36E9AA8F987AEAull, 0x4C2B24AFBFB121B9ull},
    {"lfo/align1/amt0.5/law0", 0xA2A0C573CC5EBF8Full, 0x71EE699CDE9BF6D6ull},
    {"lfo/align1/amt0.5/law1", 0x999B0D210BFED708ull, 0x91582F2E77D91FAAull},
    {"lfo/align1/amt1.0/law0", 0x26B257ABB44A46A4ull, 0xA9B79839ACC9E653ull},
    {"lfo/align1/amt1.0/law1", 0x87BBBD7C9CF8F61Bull, 0x850DBD8DEA87B730ull},
    {"lfo/align1/amt1.6/law0", 0x1B7CDB71FC87035Cull, 0xDFEA8508F88A84BEull},
    {"lfo/align1/amt1.6/law1", 0x3F226736E2020013ull, 0x58B4B8B048DCAFC1ull},
    {"lfo/align2/amt0.0/law0", 0x78E736535BBA7D62ull, 0x4E13E49A1BE8CEEAull},
    {"lfo/align2/amt0.0/law1", 0x7A36E9AA8F987AEAull, 0x4C2B24AFBFB121B9ull},
    {"lfo/align2/amt0.5/law0", 0x29C390B975016799ull, 0x64CD2D6D12A29B6Eull},
    {"lfo/align2/amt0.5/law1", 0x2BF01BB14A9165E3ull, 0x8E2D6EB0C70AF357ull},
    {"lfo/align2/amt1.0/law0", 0x2FC4E449E9FD09A1ull, 0x4A736BC28D733134ull},
    {"lfo/align2/amt1.0/law1", 0x67419DF69C57D3F1ull, 0x67ACFDA064BADE3Aull},
    {"lfo/align2/amt1.6/law0", 0xA02A88FDDFAF652Dull, 0x7F3BCC86776C93EFull},
    {"lfo/align2/amt1.6/law1", 0x77CBE6D314CB5F41ull, 0x89B43FF0A30F8A0Full},
    {"lfo/align3/amt0.0/law0", 0x78E736535BBA7D62ull, 0x4E13E49A1BE8CEEAull},
    {"lfo/align3/amt0.0/law1", 0x7A36E9AA8F987AEAull, 0x4C2B24AFBFB121B9ull},
    {"lfo/align3/amt0.5/law0", 0x8955121003D6E3ADull, 0x0586F4C56F6C5A2Eull},
    {"lfo/align3/amt0.5/law1", 0x1B069C20736651AFull, 0x7DB7747E30DD240Dull},
    {"lfo/align3/amt1.0/law0", 0xF7CE54A9D939AAFEull, 0x43F5E280774D91B6ull},
    {"lfo/align3/amt1.0/law1", 0x3DB91B5111D7B125ull, 0x111798509A166628ull},
    {"lfo/align3/amt1.6/law0", 0xF4F8DB85685782FBull, 0x3B239ADA894F64DEull},
    {"lfo/align3/amt1.6/law1", 0xE4F8F23522A9869Dull, 0x3081DB55AE351571ull},
    {"lfo/align4/amt0.0/law0", 0x78E736535BBA7D62ull, 0x4E13E49A1BE8CEEAull},
    {"lfo/align4/amt0.0/law1", 0x7A36E9AA8F987AEAull, 0x4C2B24AFBFB121B9ull},
    {"lfo/align4/amt0.5/law0", 0x3377DDBD390292C8ull, 0x3B35B3B38DD29404ull},
    {"lfo/align4/amt0.5/law1", 0x01F2FA690FE2F80Full, 0xF72B41E06FDD7B4Aull},
    {"lfo/align4/amt1.0/law0", 0xF5E16B519B255335ull, 0x6AA8EC423F7F8D64ull},
    {"lfo/align4/amt1.0/law1", 0x42B6CFAC2E4D5C99ull, 0x6417495664FB1A1Cull},
    {"lfo/align4/amt1.6/law0", 0x9C4007EC4707EEF2ull, 0xDE21AF58C04955B1ull},
    {"lfo/align4/amt1.6/law1", 0xD1619A4B5C64D2D8ull, 0x69B75E7DE25EDCD7ull},
    {"streams/align1", 0x7F3B42BB7EF1E639ull, 0x7F3B42BB7EF1E639ull},
    {"streams/align3", 0x6D58F369A122440Dull, 0x6D58F369A122440Dull},
    {"law0", 0x6395098B9D94E3E0ull, 0x64CF0A4AE5A89625ull},
    {"law1", 0x6DD7870019A440F5ull, 0x8478A9CC8ABFA778ull},
    {"law5", 0x6395098B9D94E3E0ull, 0x64CF0A4AE5A89625ull},
    {"law-1", 0x6395098B9D94E3E0ull, 0x64CF0A4AE5A89625ull},
    {"hostile/attack-nan", 0x58A639E245AA93B8ull, 0x58A639E245AA93B8ull},
    {"hostile/attack-inf", 0x58A639E245AA93B8ull, 0x58A639E245AA93B8ull},
    {"hostile/attack-negative", 0x58A639E245AA93B8ull, 0x58A639E245AA93B8ull},
    {"hostile/hold-nan", 0x0ECF5FBAE4235DEAull, 0x6514719A0C99DCCBull},
    {"hostile/hold-zero", 0x0ECF5FBAE4235DEAull, 0x6514719A0C99DCCBull},
    {"hostile/decay-nan", 0xBA4CB763FD88D627ull, 0xBA4CB763FD88D627ull},
    {"hostile/decay-zero", 0xBA4CB763FD88D627ull, 0xBA4CB763FD88D627ull},
    {"hostile/sustain-nan", 0xAFF739654BE7F55Full, 0xAD9612F573494A9Full},
    {"hostile/sustain-above-one", 0xE8F0FC180872BD02ull, 0xAD9CAF28B798E35Cull},
    {"hostile/sustain-negative", 0x8D8C5F84D3C6E39Dull, 0xA90BCC7CFB2DE6A2ull},
    {"hostile/release-nan", 0x3ABB4F87C1398A18ull, 0xB317DF7F0CD202CCull},
    {"hostile/release-zero", 0x3ABB4F87C1398A18ull, 0xB317DF7F0CD202CCull},
    {"hostile/release-negative", 0xF24B8E463F4BCFCAull, 0xB317DF7F0CD202CCull},
    {"hostile/form-huge", 0x8BD76C91F1B3CF51ull, 0x1F682DA90D0A253Cull},
    {"hostile/form-minus-huge", 0xA5D1A411687645F1ull, 0x1EACD9A9F49AD667ull},
    {"hostile/form-nan", 0xB3D42C48E9E38A09ull, 0xB317DF7F0CD202CCull},
    {"hostile/form-7", 0x918D19C5FB5F4A94ull, 0x8B4538E2272A5D2Dull},
    {"hostile/form-minus-6", 0xA45D7E18F0765913ull, 0xB317DF7F0CD202CCull},
    {"hostile/level-inf", 0xBA4001F1D2169001ull, 0xC79C9B429FE8C096ull},
    {"hostile/level-nan", 0x32A2AA6B86963A16ull, 0x32A2AA6B86963A16ull},
    {"hostile/gate-nan", 0x4918EC2D4E5369E1ull, 0xB317DF7F0CD202CCull},
    {"hostile/gate-half", 0xDDD3D082A68A061Cull, 0x47A04F21B79730E9ull},
    {"hostile/gate-tiny", 0xDDD3D082A68A061Cull, 0x47A04F21B79730E9ull},
    {"hostile/lfo-freq-nan", 0x1CC31CE5C11E8CB0ull, 0x4574C4418980D887ull},
    {"hostile/lfo-freq-huge", 0x0BB912EB4A1C9CB5ull, 0x49AF0EAE1CE58815ull},
    {"hostile/lfo-amt-nan", 0x5942F2AAB7BEBD2Full, 0x657A346DB1D7AB70ull},
    {"hostile/lfo-phase-inf", 0xEED36819FEFE8D72ull, 0x6E2EC8F4542E23E1ull},
    {"rate8/block1", 0x0FA65B8E5D3B4DF6ull, 0x0FA65B8E5D3B4DF6ull},
    {"rate8/block64", 0x0FA65B8E5D3B4DF6ull, 0x0FA65B8E5D3B4DF6ull},
    {"rate8/block1024", 0x0FA65B8E5D3B4DF6ull, 0x0FA65B8E5D3B4DF6ull},
    {"rate22050/block1", 0x8B38ACE0DDF52C15ull, 0x8B38ACE0DDF52C15ull},
    {"rate22050/block64", 0x8B38ACE0DDF52C15ull, 0x8B38ACE0DDF52C15ull},
    {"rate22050/block1024", 0x8B38ACE0DDF52C15ull, 0x8B38ACE0DDF52C15ull},
    {"rate96000/block1", 0x6A0ABD9DE3FFE1A3ull, 0x74A66FD6B8118F0Aull},
    {"rate96000/block64", 0x6A0ABD9DE3FFE1A3ull, 0x74A66FD6B8118F0Aull},
    {"rate96000/block1024", 0x6A0ABD9DE3FFE1A3ull, 0x74A66FD6B8118F0Aull},
};

TEST(TessarnExactOutput, EveryScenarioRendersTheRecordedBits) {
    std::string error;
    const std::unique_ptr<Library> library = Library::Load(TESSARN_SEP_PATH, &error);
    ASSERT_NE(library, nullptr) << error;
    const std::vector<Scenario> scenarios = Scenarios();
    ASSERT_GT(2 * scenarios.size(), 200u);
    for (const Scenario& scenario : scenarios) {
        const uint64_t hash = Render(*library, scenario, false);
        const uint64_t resumed = Render(*library, scenario, true);
        char row[160];
        std::snprintf(row, sizeof row, "    {\"%s\", 0x%016llXull, 0x%016llXull},", scenario.name.c_str(),
                      static_cast<unsigned long long>(hash), static_cast<unsigned long long>(resumed));
        if (outputhash::Printing()) std::printf("%s\n", row);
        const RecordedPair* recorded = nullptr;
        for (const RecordedPair& r : kRecorded)
            if (recorded == nullptr && scenario.name == r.scenario) recorded = &r;
        EXPECT_TRUE(recorded != nullptr) << "no recorded hashes for " << row;
        EXPECT_EQ(hash, recorded != nullptr ? recorded->hash : 0u) << "output bits changed: " << row;
        EXPECT_EQ(resumed, recorded != nullptr ? recorded->resumed : 0u) << "output bits changed (resumed): " << row;
    }
    for (const RecordedPair& r : kRecorded) {
        bool runs = false;
        for (const Scenario& scenario : scenarios) runs = runs || scenario.name == r.scenario;
        EXPECT_TRUE(runs) << "recorded scenario no longer rendered: " << r.scenario;
    }
}

}  // namespace
