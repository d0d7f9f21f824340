<?xml version="1.0" encoding="UTF-8"?>
<!--
  Alder Components' invoices (their accounting system's export, root alder-invoice) into the
  standard form of INVOICE.

  Alder writes dates as dd.mm.yyyy and amounts with a decimal comma; the standard form has
  yyyy-mm-dd and a decimal point. The routing tags travel along in ROUTING. An invoice
  without an invoice number is refused.
-->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:output method="xml" indent="yes" encoding="UTF-8"/>

  <xsl:variable name="routing"
      select="//SENDER | //CONTACT | //DOCTYPE-ID | //REQUISITIONER | //RECEIVER |
              //BUSINESSPARTNER | //BUS-PART-C | //BUS-PART-S | //USESDISTLIST | //QELSHOW"/>

  <xsl:template match="/">
    <xsl:if test="not(alder-invoice)">
      <xsl:message terminate="yes">Not an Alder invoice: the root element is <xsl:value-of select="name(*)"/>, alder-invoice was expected.</xsl:message>
    </xsl:if>
    <xsl:apply-templates select="alder-invoice"/>
  </xsl:template>

  <xsl:template match="alder-invoice">
    <xsl:if test="normalize-space(inv-no) = ''">
      <xsl:message terminate="yes">The Alder invoice has no invoice number (inv-no).</xsl:message>
    </xsl:if>
    <xsl:variable name="currency" select="items/item[1]/price/@cur"/>
    <INVOICE>
      <ROUTING>
        <xsl:for-each select="$routing">
          <xsl:element name="{name()}"><xsl:value-of select="normalize-space(.)"/></xsl:element>
        </xsl:for-each>
      </ROUTING>
      <HEADER>
        <INVOICENUMBER><xsl:value-of select="normalize-space(inv-no)"/></INVOICENUMBER>
        <INVOICEDATE><xsl:call-template name="iso-date"><xsl:with-param name="d" select="inv-date"/></xsl:call-template></INVOICEDATE>
        <DELIVERYDATE><xsl:call-template name="iso-date"><xsl:with-param name="d" select="delivered"/></xsl:call-template></DELIVERYDATE>
        <ORDERREFERENCE><xsl:value-of select="normalize-space(your-order)"/></ORDERREFERENCE>
        <CURRENCY><xsl:value-of select="$currency"/></CURRENCY>
        <PAYMENTTERMS><xsl:value-of select="concat(due-days, ' days net')"/></PAYMENTTERMS>
        <SUPPLIER>
          <CODE><xsl:value-of select="seller/@code"/></CODE>
          <NAME><xsl:value-of select="seller/name"/></NAME>
          <VATID><xsl:value-of select="seller/vat-id"/></VATID>
          <IBAN><xsl:value-of select="seller/bank/@iban"/></IBAN>
        </SUPPLIER>
        <CUSTOMER>
          <CODE><xsl:value-of select="bill-to/@cust-no"/></CODE>
          <NAME><xsl:value-of select="bill-to/name"/></NAME>
          <xsl:for-each select="bill-to/addr">
            <STREET><xsl:value-of select="."/></STREET>
          </xsl:for-each>
          <POSTCODE><xsl:value-of select="bill-to/zip"/></POSTCODE>
          <CITY><xsl:value-of select="bill-to/city"/></CITY>
          <COUNTRY><xsl:value-of select="bill-to/country"/></COUNTRY>
        </CUSTOMER>
        <REMARK><xsl:value-of select="normalize-space(remark)"/></REMARK>
      </HEADER>
      <LINES>
        <xsl:for-each select="items/item">
          <xsl:variable name="qty" select="number(translate(qty, ',', '.'))"/>
          <xsl:variable name="price" select="number(translate(price, ',', '.'))"/>
          <LINE number="{position()}">
            <ITEM><xsl:value-of select="art"/></ITEM>
            <DESCRIPTION><xsl:value-of select="normalize-space(text)"/></DESCRIPTION>
            <QUANTITY unit="{qty/@unit}"><xsl:value-of select="$qty"/></QUANTITY>
            <UNITPRICE><xsl:value-of select="format-number($price, '0.00')"/></UNITPRICE>
            <VATRATE><xsl:value-of select="vat"/></VATRATE>
            <AMOUNT><xsl:value-of select="format-number($qty * $price, '0.00')"/></AMOUNT>
          </LINE>
        </xsl:for-each>
      </LINES>
      <xsl:variable name="net">
        <xsl:call-template name="sum"><xsl:with-param name="items" select="items/item"/></xsl:call-template>
      </xsl:variable>
      <xsl:variable name="vat">
        <xsl:call-template name="sum">
          <xsl:with-param name="items" select="items/item"/>
          <xsl:with-param name="with-vat" select="true()"/>
        </xsl:call-template>
      </xsl:variable>
      <TOTALS>
        <NET><xsl:value-of select="format-number($net, '0.00')"/></NET>
        <VAT><xsl:value-of select="format-number($vat, '0.00')"/></VAT>
        <GROSS><xsl:value-of select="format-number($net + $vat, '0.00')"/></GROSS>
      </TOTALS>
    </INVOICE>
  </xsl:template>

  <!-- dd.mm.yyyy to yyyy-mm-dd; anything else is passed on as written. -->
  <xsl:template name="iso-date">
    <xsl:param name="d"/>
    <xsl:variable name="t" select="normalize-space($d)"/>
    <xsl:choose>
      <xsl:when test="string-length($t) = 10 and substring($t, 3, 1) = '.' and substring($t, 6, 1) = '.'">
        <xsl:value-of select="concat(substring($t, 7, 4), '-', substring($t, 4, 2), '-', substring($t, 1, 2))"/>
      </xsl:when>
      <xsl:otherwise><xsl:value-of select="$t"/></xsl:otherwise>
    </xsl:choose>
  </xsl:template>

  <!-- Net amount of the items, or with with-vat their VAT (rate in percent per item). -->
  <xsl:template name="sum">
    <xsl:param name="items"/>
    <xsl:param name="with-vat" select="false()"/>
    <xsl:param name="total" select="0"/>
    <xsl:choose>
      <xsl:when test="$items">
        <xsl:variable name="i" select="$items[1]"/>
        <xsl:variable name="amount"
            select="number(translate($i/qty, ',', '.')) * number(translate($i/price, ',', '.'))"/>
        <xsl:call-template name="sum">
          <xsl:with-param name="items" select="$items[position() &gt; 1]"/>
          <xsl:with-param name="with-vat" select="$with-vat"/>
          <xsl:with-param name="total">
            <xsl:choose>
              <xsl:when test="$with-vat"><xsl:value-of select="$total + round($amount * $i/vat) div 100"/></xsl:when>
              <xsl:otherwise><xsl:value-of select="$total + $amount"/></xsl:otherwise>
            </xsl:choose>
          </xsl:with-param>
        </xsl:call-template>
      </xsl:when>
      <xsl:otherwise><xsl:value-of select="$total"/></xsl:otherwise>
    </xsl:choose>
  </xsl:template>
</xsl:stylesheet>
