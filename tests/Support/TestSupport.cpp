void testSupportPlaceholder() {}
