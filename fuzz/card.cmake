zivra_fuzz_target(card zivra_card)
