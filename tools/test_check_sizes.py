"""Tests of tools/check-sizes: which braces it takes for function bodies."""
import importlib.machinery
import importlib.util
import os
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
loader = importlib.machinery.SourceFileLoader("check_sizes", os.path.join(HERE, "check-sizes"))
spec = importlib.util.spec_from_loader("check_sizes", loader)
check_sizes = importlib.util.module_from_spec(spec)
loader.exec_module(check_sizes)


def lines(n, text="    x += 1;"):
    return "\n".join([text] * n)


class FunctionsTest(unittest.TestCase):
    def spans(self, source):
        return [(first, last) for first, last, _ in check_sizes.cpp_functions(source)]

    def test_bodies_from_signature_to_closing_brace(self):
        source = (
            "namespace a {\n"                            # 1
            "struct S {\n"                               # 2
            "    S(int v) : a_{v}, b_(2) {\n"            # 3: member braces are not the body
            f"{lines(3)}\n"                              # 4-6
            "    }\n"                                    # 7
            "    int a_, b_;\n"                          # 8
            "};\n"                                       # 9
            "const int table[] = {\n1,\n2,\n};\n"        # 10-13: an initialiser, no function
            "template <typename T>\n"                    # 14
            "auto f(T t) -> decltype(t) {\n"             # 15
            "    auto l = [&]() { return \"}\"; };  // }\n"  # 16: lambda, string and comment inside
            "    /* { */ if (t) { return t; }\n"         # 17
            "}\n"                                        # 18
            "}  // namespace a\n")
        self.assertEqual(self.spans(source), [(3, 7), (14, 18)])

    def test_findings_name_long_functions_and_files(self):
        source = "int f() {\n" + lines(85) + "\n}\n" + "int g() { return 1; }\n"
        with tempfile.TemporaryDirectory() as d:
            path = os.path.join(d, "a.cpp")
            with open(path, "w", encoding="utf-8") as f:
                f.write(source)
            findings = check_sizes.check(path, max_file=80, max_function=80)
        self.assertEqual(len(findings), 2)
        self.assertIn("file of 88 lines", findings[0])
        self.assertIn(":1: function of 87 lines", findings[1])

    def test_python_functions_by_their_syntax_tree(self):
        source = "def f():\n" + lines(3, "    pass") + "\n\n@decorator\ndef g():\n    pass\n"
        self.assertEqual([(a, b) for a, b, _ in check_sizes.python_functions(source, "x.py")], [(1, 4), (6, 8)])


if __name__ == "__main__":
    unittest.main()
